"""driver.py - DuzeDevazuDriver: register reads and writes, map dumps and memory tests on a bench PC's board,
run by duzedevazu in batch JSON mode over labgrid's command protocol (its SSHDriver, or a shell)."""
import json
import shlex

import attr

from labgrid.driver.common import Driver
from labgrid.factory import target_factory
from labgrid.protocol import CommandProtocol
from labgrid.step import step


class DuzeDevazuError(Exception):
    """A failed access, a line the tool refused, or a run that ended badly: the tool's own text."""

    def __init__(self, message, records=None, status=None):
        super().__init__(message)
        self.records = records or []
        self.status = status


class MemtestFailed(DuzeDevazuError):
    """A memory test whose words read back wrong (the tool's status 3): its summary and mismatches."""

    def __init__(self, summary, mismatches, status):
        super().__init__("memory test: %d mismatches; stuck high: %s; stuck low: %s; aliased address bits: %s" % (
            summary["mismatches"], summary["stuck_high"], summary["stuck_low"], summary["aliased_address_bits"]),
            mismatches + [summary], status)
        self.summary = summary
        self.mismatches = mismatches


def _number(value):
    return value if isinstance(value, str) else "0x%X" % value


@target_factory.reg_driver
@attr.s(eq=False)
class DuzeDevazuDriver(Driver):
    """Runs the tool on the machine the command protocol reaches: program, its board switches
    (["/TE", "/B1"], ["--device", "03:00.0"]), its maps and settings."""
    bindings = {"command": CommandProtocol}
    program = attr.ib(default="duzedevazu", validator=attr.validators.instance_of(str))
    options = attr.ib(default=attr.Factory(list), validator=attr.validators.instance_of(list))
    environment = attr.ib(default=attr.Factory(dict), validator=attr.validators.instance_of(dict))

    def _batch(self, lines, extra=()):
        """The tool's JSON records for the batch's lines, and its exit status."""
        settings = " ".join("%s=%s" % (name, shlex.quote(str(value))) for name, value in self.environment.items())
        command = "printf %s | %s %s %s --batch - --json %s" % (
            shlex.quote("".join(line + "\n" for line in lines)), settings, shlex.quote(self.program),
            " ".join(shlex.quote(str(option)) for option in self.options), " ".join(shlex.quote(e) for e in extra))
        stdout, stderr, status = self.command.run(command)
        records = []
        for line in stdout:
            line = line.strip()
            if line.startswith("{"):
                records.append(json.loads(line))
        if not records and status != 0:
            raise DuzeDevazuError(" ".join(stderr).strip() or "the tool ended with status %d" % status, [], status)
        return records, status

    @staticmethod
    def _check(record):
        if "error" in record:
            raise DuzeDevazuError(record.get("code", "") + " " + record["error"] if "code" in record else record["error"],
                                  [record])
        return record

    @Driver.check_active
    @step(args=["lines"])
    def batch(self, lines):
        """Several accesses in one run of the tool (one process, and on the simulated board one
        memory): the records of its lines, each checked."""
        records, _ = self._batch(list(lines))
        return [self._check(record) for record in records]

    @Driver.check_active
    @step(args=["address", "width"])
    def read(self, address, width=32):
        """The value of a board register: an address, or a register's name where a map is given."""
        verb = {32: "read", 16: "read16", 8: "read8"}[width]
        records, _ = self._batch(["%s %s" % (verb, _number(address))])
        if not records:
            raise DuzeDevazuError("the tool answered nothing")
        return self._check(records[0])["value"]

    @Driver.check_active
    @step(args=["address", "value", "width"])
    def write(self, address, value, width=32):
        verb = {32: "write", 16: "write16", 8: "write8"}[width]
        records, _ = self._batch(["%s %s=%s" % (verb, _number(address), _number(value))])
        if not records:
            raise DuzeDevazuError("the tool answered nothing")
        self._check(records[0])

    @Driver.check_active
    @step()
    def dump(self):
        """Every register of the board's map: a dict per register (name, value, fields, reset, or why skipped)."""
        stdout, stderr, status = self.command.run("%s %s %s --dump --json" % (
            " ".join("%s=%s" % (n, shlex.quote(str(v))) for n, v in self.environment.items()), shlex.quote(self.program),
            " ".join(shlex.quote(str(option)) for option in self.options)))
        if status != 0:
            raise DuzeDevazuError(" ".join(stderr).strip() or "the dump ended with status %d" % status, [], status)
        return [json.loads(line) for line in stdout if line.strip().startswith("{")]

    @Driver.check_active
    @step(args=["start", "length", "patterns", "passes"])
    def memtest(self, start, length, patterns=("address",), passes=1, seed=1):
        """A memory test of the range: its summary, or MemtestFailed with the mismatches."""
        records, status = self._batch(["memtest %s:%s" % (_number(start), _number(length))],
                                      ["--patterns", ",".join(patterns), "--passes", str(passes), "--seed", str(seed)])
        for record in records:
            self._check(record)
        summary = [r for r in records if r.get("op") == "memtest"]
        if not summary:
            raise DuzeDevazuError("the memory test gave no summary (status %d)" % status, records, status)
        mismatches = [r for r in records if r.get("op") == "mismatch"]
        if summary[-1]["mismatches"] != 0:
            raise MemtestFailed(summary[-1], mismatches, status)
        return summary[-1]
