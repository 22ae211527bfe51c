import sys

from zelvo.ros.node import main

sys.exit(main())
