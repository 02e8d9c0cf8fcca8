"""Counting and judging generated cases (shared by the robustness suite)."""
import collections

CASES = collections.Counter()
RAISED = collections.Counter()


def record(module, raised):
    CASES[module] += 1
    RAISED[module] += bool(raised)


def expect_success_or_error(module, operation, *args, **kwargs):
    """Runs the operation; returns its result, or None when it raised a Python exception."""
    try:
        result = operation(*args, **kwargs)
    except (SystemExit, KeyboardInterrupt):
        raise
    except Exception:  # any Python exception is an acceptable answer to broken input
        record(module, True)
        return None
    record(module, False)
    return result
