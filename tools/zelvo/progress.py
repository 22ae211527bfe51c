"""Progress bars of the command: tqdm on standard error, shown only on a terminal so that
logs and pipes get the results and nothing else."""
import sys
import time

from tqdm import tqdm


def progress(total=None, desc=None, unit="frame", iterable=None, **options):
    """A tqdm bar on standard error; `total` None counts without an end. Given an
    iterable, the bar passes its items through and counts them."""
    if iterable is not None and total is None and hasattr(iterable, "__len__"):
        total = len(iterable)
    options.setdefault("disable", None)  # None: only when standard error is a terminal
    options.setdefault("leave", False)
    options.setdefault("dynamic_ncols", True)
    return tqdm(iterable, total=total, desc=desc, unit=unit, file=sys.stderr, **options)


def track(frames, count=None, seconds=None, desc=None):
    """Passes frames through while a bar shows how many of `count` have come, or how much
    of `seconds` has gone."""
    if seconds is None:
        with progress(total=count, desc=desc) as bar:
            for frame in frames:
                yield frame
                bar.update()
        return
    start = time.monotonic()
    layout = "{desc}: {percentage:3.0f}%|{bar}| {n:.1f}/{total:g} s{postfix}"
    with progress(total=seconds, desc=desc, unit="s", bar_format=layout) as bar:
        for taken, frame in enumerate(frames, 1):
            yield frame
            bar.set_postfix_str("%d frames" % taken, refresh=False)
            bar.update(min(time.monotonic() - start, seconds) - bar.n)
