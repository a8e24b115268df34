"""Pairing each protein record with its CDS record, by identifier, header line, map or order."""
