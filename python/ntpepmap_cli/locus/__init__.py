"""One locus: its options, the engine's call, the problems in words, the one result."""
