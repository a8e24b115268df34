"""Thousands of loci: the manifest, the worker processes, the batch's summary."""
