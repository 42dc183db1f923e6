"""Command line: ``python3 -m voq COMMAND [options]``.

  info                          the headset's information string
  impedance [--plot FILE]       electrode impedances, optionally as a head map
  plot [--seconds S] [--filter TEXT] FILE
                                stacked traces of S seconds, with triggers,
                                optionally filtered (e.g. "bandpass 1 40; notch 50")

Every command takes --port PORT (default: the VOQSerialPort variable) or
--simulate (runs the simulated headset), plus --montage and --reference.
"""

from __future__ import annotations

import argparse
import contextlib
import logging
import sys
from typing import Iterator, List, Optional

from . import Headset, Simulator, VOQError


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python3 -m voq",
                                     description="VOQ headset: information, impedances, plots.")
    common = argparse.ArgumentParser(add_help=False)
    where = common.add_mutually_exclusive_group()
    where.add_argument("--port", help="serial device of the headset (default: $VOQSerialPort)")
    where.add_argument("--simulate", action="store_true",
                       help="run the simulated headset (voq-sim) and use it")
    common.add_argument("--montage", default=None,
                        help='channel specifications, e.g. "Fz Cz Pz O1 O2 TRG"')
    common.add_argument("--reference", default="",
                        help='reference, e.g. "A1/2+A2/2" ("FACTORY": the factory reference)')
    common.add_argument("--verbosity", type=int, default=None,
                        help="library message level to show (1 to 7; default 1)")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    commands.add_parser("info", parents=[common], help="print the information string")

    impedance = commands.add_parser("impedance", parents=[common],
                                    help="measure electrode impedances")
    impedance.add_argument("--plot", metavar="FILE", help="also draw a head map into FILE (PNG)")
    impedance.add_argument("--seconds", type=float, default=None,
                           help="how long to run the impedance driver (default: 1.3)")

    plot = commands.add_parser("plot", parents=[common], help="draw stacked traces")
    plot.add_argument("--seconds", type=float, default=5.0, help="length to draw (default 5)")
    plot.add_argument("--filter", default=None, metavar="TEXT",
                      help='filter the EEG channels first, e.g. "bandpass 1 40; notch 50"')
    plot.add_argument("file", help="image file to write (PNG)")
    return parser


@contextlib.contextmanager
def _headset(arguments: argparse.Namespace) -> Iterator[Headset]:
    with contextlib.ExitStack() as stack:
        port: Optional[str] = arguments.port
        if arguments.simulate:
            port = stack.enter_context(Simulator())
        headset = stack.enter_context(Headset(port or "default", verbosity=arguments.verbosity))
        if arguments.montage is not None or arguments.reference:
            headset.choose_channels(arguments.montage if arguments.montage is not None else "",
                                    arguments.reference)
        yield headset


def _info(headset: Headset, arguments: argparse.Namespace) -> int:
    print(headset.info_string)
    return 0


def _impedance(headset: Headset, arguments: argparse.Namespace) -> int:
    values = headset.impedances(arguments.seconds)
    width = max([len(name) for name in values] + [9])
    print("%-*s  %s" % (width, "electrode", "kOhm"))
    for name, value in values.items():
        print("%-*s  %s" % (width, name, "%.1f" % value if value >= 0 else "not measured"))
    if arguments.plot:
        from .plots import plot_impedances
        plot_impedances(values, arguments.plot,
                        title="Electrode impedances (k\u03a9), %s" % headset.hardware_model)
        print("head map written to %s" % arguments.plot)
    return 0


def _plot(headset: Headset, arguments: argparse.Namespace) -> int:
    from .plots import plot_traces
    if arguments.filter:
        headset.add_filter(arguments.filter)
    names = headset.channel_names
    kinds = headset.channel_kinds()
    data = headset.read(arguments.seconds)
    markers = plot_traces(data, names, headset.sampling_rate, arguments.file, kinds=kinds,
                          title="%s, %g s at %g samples/s%s" % (
                              headset.hardware_model, arguments.seconds, headset.sampling_rate,
                              ", filtered " + headset.prefiltering if arguments.filter else ""))
    print("%d channels x %d samples, %d trigger markers, written to %s"
          % (data.shape[0], data.shape[1], markers, arguments.file))
    return 0


def main(argv: Optional[List[str]] = None) -> int:
    arguments = _parser().parse_args(argv)
    logging.basicConfig(level=logging.DEBUG if arguments.verbosity else logging.WARNING,
                        format="voq: %(message)s")
    command = {"info": _info, "impedance": _impedance, "plot": _plot}[arguments.command]
    try:
        with _headset(arguments) as headset:
            return command(headset, arguments)
    except (VOQError, RuntimeError, FileNotFoundError) as error:
        print("voq: %s" % error, file=sys.stderr)
        return 1
    except ImportError as error:
        print("voq: %s\n(the plots need numpy, matplotlib and MNE; on Debian run this with "
              "/usr/bin/python3, where python3-numpy, python3-matplotlib and python3-mne "
              "install them)" % error, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
