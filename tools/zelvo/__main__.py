"""`python3 -m zelvo`: the zelvo command."""
import sys

from zelvo.cli import main

sys.exit(main())
