import pytest

pytest.register_assert_rewrite("runner")  # its checks explain themselves
