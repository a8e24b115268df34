#!/usr/bin/env cwl-runner
cwlVersion: v1.2
class: CommandLineTool
label: "ntpepmap: codon alignment of a protein alignment and its coding sequences"
doc: |
  Threads the unaligned CDS of each taxon onto the protein alignment: each gap becomes ---,
  each residue takes the next triplet of its CDS, every triplet is checked against the genetic
  code. Status 1 (some record padded or left out) still yields the alignment; the problem lines
  name the records. Status 2 writes nothing.

hints:
  SoftwareRequirement:
    packages:
      ntpepmap:
        version: ["0.1.0"]

baseCommand: ntpepmap
arguments:
  - prefix: -o
    valueFrom: $(inputs.output_name)
stderr: problems.txt

# 1: written, some record padded or left out; 2: usage or input error, nothing written;
# 130 and 143: interrupted or terminated, worth running again.
successCodes: [0, 1]
permanentFailCodes: [2]
temporaryFailCodes: [130, 143]

inputs:
  protein:
    type: File
    doc: The protein alignment (FASTA, CLUSTAL or relaxed PHYLIP; compressed too).
    inputBinding:
      position: 1
  cds:
    type: File[]
    doc: The unaligned coding sequences, one or more FASTA files (compressed too).
    inputBinding:
      position: 2
  table:
    type: int?
    doc: NCBI genetic code number (default 1).
    inputBinding:
      prefix: --table
  mismatch:
    type:
      - "null"
      - type: enum
        symbols: [mask, keep, drop]
    doc: A triplet that does not encode its residue (default mask).
    inputBinding:
      prefix: --mismatch
  stops:
    type:
      - "null"
      - type: enum
        symbols: [keep, mask, drop-columns]
    doc: A stop codon the protein carries as '*' (default keep).
    inputBinding:
      prefix: --stops
  frameshifts:
    type:
      - "null"
      - type: enum
        symbols: [mask, drop]
    doc: A CDS that fits its protein only with a frameshift (default mask).
    inputBinding:
      prefix: --frameshifts
  both_strands:
    type: boolean?
    doc: Search the reverse complement too when looking for a coding region.
    inputBinding:
      prefix: --both-strands
  upper_case:
    type: boolean?
    doc: Write every letter in upper case (by default the CDS's own case).
    inputBinding:
      prefix: --upper-case
  kept_columns:
    type: File?
    doc: The columns a trimmer kept (ClipKIT's log, trimAl's -colnumbering, or 1-120,131).
    inputBinding:
      prefix: --kept-columns
  out_format:
    type:
      - "null"
      - type: enum
        symbols: [fasta, phylip, paml, clustal, nexus]
    doc: Format of the codon alignment (default fasta).
    inputBinding:
      prefix: --out-format
  partitions_name:
    type: string?
    doc: Write the three codon positions as partitions (RAxML-NG, IQ-TREE -p) to this file.
    inputBinding:
      prefix: --partitions
  rename_map_name:
    type: string?
    doc: Write names every tree program reads, and a map back to the originals to this file.
    inputBinding:
      prefix: --rename
  output_name:
    type: string
    default: codon_alignment.txt
    doc: File name of the codon alignment.

outputs:
  codon_alignment:
    type: File
    outputBinding:
      glob: $(inputs.output_name)
  problems:
    type: stderr
  partitions:
    type: File?
    outputBinding:
      glob: $(inputs.partitions_name)
  rename_map:
    type: File?
    outputBinding:
      glob: $(inputs.rename_map_name)
