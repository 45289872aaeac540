"""The command line both hardening checkers share: which checks to run, which must fail, the report."""
import argparse
import sys


def run(description, checks_known, tool_option, tool_default, properties):
    """Parses the command line, reads the program's properties with `properties(tool, program)`
    and exits nonzero unless exactly the expected checks fail."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument(tool_option, dest="tool", default=tool_default)
    parser.add_argument("--checks", default=",".join(checks_known), help="comma-separated, of " +
                        ", ".join(checks_known))
    parser.add_argument("--expect-missing", default="",
                        help="the checks that must fail (for a program built without hardening)")
    parser.add_argument("program")
    args = parser.parse_args()
    checks = [c for c in args.checks.split(",") if c]
    expected = {c for c in args.expect_missing.split(",") if c}
    unknown = (set(checks) | expected) - set(checks_known)
    if unknown:
        parser.error("unknown checks: " + ", ".join(sorted(unknown)))
    have = properties(args.tool, args.program)
    missing = {c for c in checks if not have[c]}
    for c in checks:
        print(f"{c}: {'yes' if have[c] else 'NO'}")
    if missing != expected:
        print(f"{args.program}: missing {sorted(missing)}, expected missing {sorted(expected)}",
              file=sys.stderr)
        sys.exit(1)
    sys.exit(0)
