"""Writing: files put in place whole, the formats the next programs read, the status table."""
