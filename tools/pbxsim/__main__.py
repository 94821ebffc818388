"""Entry point for `python3 tools/pbxsim ...` (and `python3 -m pbxsim` from tools/)."""

import os
import sys

if not __package__:
    # Run as a directory: import the package from its parent folder instead of
    # exposing the modules as top-level names.
    sys.path[0] = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

from pbxsim.cli import main  # noqa: E402

sys.exit(main())
