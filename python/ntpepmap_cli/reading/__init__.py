"""Reading the inputs: files opened once, records in native sets, the columns a trimmer kept."""
