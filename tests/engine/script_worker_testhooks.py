"""The script worker with fault hooks, for tests: it runs engine/script/vellumor_engine.py
unchanged and installs its before_load hook.

    python script_worker_testhooks.py PORT

The script is taken from VELLUMOR_SCRIPT_WORKER when set, else from beside this file, else from
the source tree; it reads the office settings file beside itself, wherever that is. VELLUMOR_ENGINE_FAULT=KIND:TEXT makes a Load of a path that contains TEXT fail:
  hang:TEXT         the worker hangs (its deadline ends it)
  crash:TEXT        the worker dies of SIGKILL
  officecrash:TEXT  the office dies of SIGKILL just before it loads the document
  slow:MS:TEXT      the load takes MS milliseconds longer
VELLUMOR_ENGINE_SHARED_NETWORK=1 leaves the worker in the test's network namespace.
VELLUMOR_ENGINE_LAYOUT_FROM_WORKER=1 runs the layout pass from the worker, over the bridge, as
with an office that cannot run Python itself.
"""

import importlib.util
import os
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def script_path():
    candidates = [
        os.environ.get("VELLUMOR_SCRIPT_WORKER", ""),
        os.path.join(HERE, "vellumor_engine.py"),
        os.path.join(HERE, "..", "..", "engine", "script", "vellumor_engine.py"),
    ]
    for path in candidates:
        if path and os.path.isfile(path):
            return os.path.abspath(path)
    raise SystemExit("script_worker_testhooks.py: vellumor_engine.py not found")


def load_script():
    spec = importlib.util.spec_from_file_location("vellumor_engine", script_path())
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def fault_hook(engine):
    fault = os.environ.get("VELLUMOR_ENGINE_FAULT", "")
    kind, colon, text = fault.partition(":")
    if not colon:
        return None
    slow_seconds = 0.0
    if kind == "slow":
        milliseconds, colon, text = text.partition(":")
        if not colon or not milliseconds.isdigit():
            return None
        slow_seconds = int(milliseconds) / 1000.0

    def before_load(path):
        if text not in path:
            return
        if kind == "hang":
            while True:
                time.sleep(3600)
        elif kind == "crash":
            os.kill(os.getpid(), signal.SIGKILL)
        elif kind == "officecrash":
            office = engine.State.office
            if office is not None:
                os.kill(office.pid, signal.SIGKILL)
                office.wait()
        elif kind == "slow":
            time.sleep(slow_seconds)

    return before_load


def main(argv):
    engine = load_script()
    engine.before_load = fault_hook(engine)
    # VELLUMOR_ENGINE_SHARED_NETWORK=1 keeps the test's network, so that the office's own
    # settings are tested without the namespace in front of them.
    if os.environ.get("VELLUMOR_ENGINE_SHARED_NETWORK") == "1":
        engine.isolate_network = lambda: None
    if os.environ.get("VELLUMOR_ENGINE_LAYOUT_FROM_WORKER") == "1":
        engine.layout_pass_in_office = lambda context: None
    return engine.main(argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
