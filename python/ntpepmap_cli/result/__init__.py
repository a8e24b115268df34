"""What became of a locus: the one result, its problems and its records' fates."""
