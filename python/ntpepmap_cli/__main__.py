import atexit
import os
import sys


def _exit_at_once(status: int) -> int:
    """Ends a finished run without the interpreter's teardown.

    Every output is closed and renamed into place by now; what is left for the
    interpreter to do is free memory and modules, which the kernel does faster.
    Only while no exit handler is registered (a module that registers one, such as
    multiprocessing, gets the usual exit); standard streams are flushed first, and
    if that fails the usual exit reports it.
    """
    if atexit._ncallbacks():  # CPython's count of registered exit handlers
        return status
    try:
        for stream in (sys.stdout, sys.stderr):
            if stream is not None:
                stream.flush()
    except (OSError, ValueError):  # a closed pipe or stream: the usual exit reports it
        return status
    os._exit(status)  # with the teardown, L takes 5-8 % more CPU time


def _print_version() -> int:
    """`ntpepmap --version` alone, answered before argparse and the tool are imported:
    the line argparse's version action prints, from the constant the wheel carries."""
    from ntpepmap_cli import __version__

    try:
        sys.stdout.write(f"ntpepmap {__version__}\n")
    except BrokenPipeError:  # the reader went away, as the command's main() handles it
        from ntpepmap_cli.outputs.atomic_files import CLOSED_PIPE_STATUS, silence_stdout

        silence_stdout()
        return CLOSED_PIPE_STATUS
    return 0


def main() -> int:
    if sys.argv[1:] == ["--version"] and sys.stdout is not None:
        return _exit_at_once(_print_version())
    try:
        from ntpepmap_cli.command.main import main as run
    except KeyboardInterrupt:  # Ctrl-C while starting up: nothing was done yet
        return 130
    return _exit_at_once(run())


if __name__ == "__main__":
    sys.exit(main())
