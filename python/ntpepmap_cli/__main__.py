import sys


def main() -> int:
    try:
        from ntpepmap_cli.cli import main as run
    except KeyboardInterrupt:  # Ctrl-C while starting up: nothing was done yet
        return 130
    return run()


if __name__ == "__main__":
    sys.exit(main())
