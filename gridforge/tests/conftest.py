from kelm.testing import as_lists, fresh_host  # noqa: F401 (fixtures)
