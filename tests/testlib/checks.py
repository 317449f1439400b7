"""The Python checks' record of failures: a check that fails is printed and
counted, and the run goes on to the next."""

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)
    return ok
