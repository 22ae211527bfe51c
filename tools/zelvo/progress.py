"""Progress bars of the command: tqdm on standard error, shown only on a terminal so that
logs and pipes get the results and nothing else."""
import sys

from tqdm import tqdm


def progress(total=None, desc=None, unit="frame", **options):
    """A tqdm bar on standard error; `total` None counts without an end."""
    options.setdefault("disable", None)  # None: only when standard error is a terminal
    options.setdefault("leave", False)
    options.setdefault("dynamic_ncols", True)
    return tqdm(total=total, desc=desc, unit=unit, file=sys.stderr, **options)
