import pytest

pytest.register_assert_rewrite("runner")  # its checks explain themselves


# Under Wine: how many cases were run once more, and which, with what came
# out the first time.
def pytest_terminal_summary(terminalreporter):
    import runner
    if runner.WINDOWS:
        terminalreporter.write_line(f"reruns: {len(runner.reruns)} {runner.reruns or ''}".rstrip())
