"""The command line: options, safeguards against overwriting inputs, what is printed."""
