"""driver.py - DuzeDevazuDriver: register reads and writes, map dumps and memory tests on a bench PC's board,
run by duzedevazu in batch JSON mode over labgrid's command protocol (its SSHDriver, or a shell)."""
import contextlib
import json
import re
import shlex
import subprocess
import threading

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


def _line(verb, argument=""):
    """A batch line: refused where a value holds a control character (a newline would add a line)."""
    line = ("%s %s" % (verb, argument)).strip()
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in line):
        raise DuzeDevazuError("a value holds a control character: %r" % line)
    return line


def _records(lines):
    """JSON records of the tool's output lines; anything else the tool says is not a record."""
    records = []
    for line in lines:
        line = line.strip()
        if not line.startswith("{"):
            continue
        try:
            records.append(json.loads(line))
        except ValueError as error:
            raise DuzeDevazuError("the tool's output is no record: %s" % error, records) from None
    return records


def _checked(record):
    if "error" in record:
        raise DuzeDevazuError(record.get("code", "") + " " + record["error"] if "code" in record else record["error"],
                              [record])
    return record


class DuzeDevazuSession:
    """One run of the tool kept open (--batch - --json over SSH): each line is answered before the
    next is sent, and the board (the simulated board's memory too) stays as the lines left it."""

    def __init__(self, argv):
        self._process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                         text=True, bufsize=1, errors="replace")
        self._line = 0
        # Standard error is read as it comes, so that a remote that writes much there never stalls.
        self._stderr = []
        self._reader = threading.Thread(target=lambda: self._stderr.extend(self._process.stderr), daemon=True)
        self._reader.start()

    def _ended(self, records):
        """The run has ended: the tool's own text (its standard error) and status."""
        status = self._process.wait()
        self._reader.join(5)
        text = "".join(self._stderr).strip()
        raise DuzeDevazuError(text or "the tool's run has ended (status %d)" % status, records, status)

    def _send(self, line):
        """The records of one line, up to the one marked as its end."""
        if self._process.poll() is not None:
            self._ended([])
        try:
            self._process.stdin.write(line + "\n")
            self._process.stdin.flush()
        except BrokenPipeError:
            self._ended([])
        self._line += 1
        records = []
        while True:
            answer = self._process.stdout.readline()
            if not answer:
                self._ended(records)
            if not answer.startswith("{"):
                continue
            record = _records([answer])[0]
            records.append(record)
            # Answers are matched to lines by their number, never by their order alone; a record of no
            # line (a board that did not open) comes before the run's end.
            if "line" in record and record["line"] != self._line:
                raise DuzeDevazuError("an answer for line %s came for line %d" % (record.get("line"), self._line), records)
            if record.get("end"):
                return records

    def operation(self, verb, argument=""):
        """Any operation of the tool's table, as its batch line (VERB ARGUMENT) takes it: its records,
        each checked. A new operation of the tool is one here too."""
        return [_checked(record) for record in self._send(_line(verb, argument))]

    def read(self, address, width=32):
        verb = {32: "read", 16: "read16", 8: "read8"}[width]
        return _checked(self._send(_line(verb, _number(address)))[-1])["value"]

    def write(self, address, value, width=32):
        verb = {32: "write", 16: "write16", 8: "write8"}[width]
        _checked(self._send(_line(verb, "%s=%s" % (_number(address), _number(value))))[-1])

    def memtest(self, start, length):
        """A memory test of the range (the patterns the session was opened with): its summary, or
        MemtestFailed with the mismatches."""
        records = self._send(_line("memtest", "%s:%s" % (_number(start), _number(length))))
        summary = _checked(records[-1])
        records = records[:-1]
        if summary["mismatches"] != 0:
            raise MemtestFailed(summary, records, 3)
        return summary

    def close(self):
        """Ends the run (end of its input): its exit status, the worst of its lines."""
        if self._process.stdin and not self._process.stdin.closed:
            self._process.stdin.close()
        status = self._process.wait()
        self._process.stdout.close()
        self._process.stderr.close()
        return status


@target_factory.reg_driver
@attr.s(eq=False)
class DuzeDevazuDriver(Driver):
    """Runs the tool on the machine the command protocol reaches: program, its board switches
    (["/TE", "/B1"], ["--device", "03:00.0"]), its maps and settings."""
    bindings = {"command": CommandProtocol}
    program = attr.ib(default="duzedevazu", validator=attr.validators.instance_of(str))
    options = attr.ib(default=attr.Factory(list), validator=attr.validators.instance_of(list))
    environment = attr.ib(default=attr.Factory(dict), validator=attr.validators.instance_of(dict))

    def _remote(self, extra=()):
        """The one remote command line of every call: the settings, the program, its options, then
        extra; every word quoted, a setting's name refused where it is no shell name."""
        for name in self.environment:
            if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", str(name)):
                raise DuzeDevazuError("%r is no name of a setting" % (name,))
        return " ".join(["%s=%s" % (name, shlex.quote(str(value))) for name, value in self.environment.items()] +
                        [shlex.quote(self.program)] + [shlex.quote(str(option)) for option in self.options] +
                        [shlex.quote(str(word)) for word in extra])

    def _run(self, extra, stdin_lines=None):
        """The tool's JSON records and its exit status; standard error's text where it gave no record."""
        command = self._remote(extra)
        if stdin_lines is not None:
            command = "printf %s | %s" % (shlex.quote("".join(line + "\n" for line in stdin_lines)), command)
        # Bytes that are no UTF-8 (a name of a map's, a remote's message) are replaced, never raised.
        try:
            stdout, stderr, status = self.command.run(command, decodeerrors="replace")
        except TypeError:
            stdout, stderr, status = self.command.run(command)
        records = _records(stdout)
        text = " ".join(stderr).strip()
        # A run that ended by a signal, or a batch whose last line has no answer's end, died on the way:
        # its records so far are no result.
        died = status not in (0, 1, 2, 3) or (stdin_lines and not (records and records[-1].get("end")))
        if (not records and status != 0) or died:
            raise DuzeDevazuError(text or "the tool ended with status %d" % status, records, status)
        return records, status

    def _batch(self, lines, extra=()):
        """The tool's JSON records for the batch's lines, and its exit status."""
        return self._run(["--batch", "-", "--json", *extra], [_line(line) for line in lines])

    @staticmethod
    def _check(record):
        return _checked(record)

    @Driver.check_active
    @contextlib.contextmanager
    def session(self, patterns=None, passes=1, seed=1):
        """One run of the tool for many calls, kept open over the SSH driver's connection: with
        board.session() as run: run.write(...); run.read(...). Its memory tests take these options."""
        command = self.command
        if not hasattr(command, "networkservice"):
            raise DuzeDevazuError("a session needs labgrid's SSHDriver as the command protocol")
        # The SSH driver's own options (its connection's master among them), as it offers them.
        prefix = command.get_ssh_prefix() if hasattr(command, "get_ssh_prefix") else list(command.ssh_prefix)
        service = command.networkservice
        # No patterns named: the tool's default, which a memory that ignores writes does not pass.
        remote = self._remote(["--batch", "-", "--json", *(["--patterns", ",".join(patterns)] if patterns else []),
                               "--passes", str(passes), "--seed", str(seed)])
        run = DuzeDevazuSession(["ssh", "-x", *prefix, "-p", str(service.port), "-l", service.username,
                                 service.address, remote])
        try:
            yield run
        finally:
            run.close()

    @Driver.check_active
    @step(args=["lines"])
    def batch(self, lines):
        """Several accesses in one run of the tool (one process, and on the simulated board one
        memory): the records of its lines, each checked."""
        records, _ = self._batch(list(lines))
        return [self._check(record) for record in records]

    @Driver.check_active
    @step(args=["verb", "argument"])
    def operation(self, verb, argument=""):
        """Any operation of the tool's table in a run of its own, as its batch line (VERB ARGUMENT) takes
        it: its records, each checked (hexdump, decode, list, names, ... and whatever the tool adds)."""
        records, _ = self._batch([_line(verb, argument)])
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
        records, status = self._run(["--dump", "--json"])
        for record in records:
            self._check(record)
        if status != 0:
            raise DuzeDevazuError("the dump ended with status %d" % status, records, status)
        return records

    @Driver.check_active
    @step(args=["start", "length", "patterns", "passes"])
    def memtest(self, start, length, patterns=None, passes=1, seed=1):
        """A memory test of the range: its summary, or MemtestFailed with the mismatches."""
        records, status = self._batch(["memtest %s:%s" % (_number(start), _number(length))],
                                      [*(["--patterns", ",".join(patterns)] if patterns else []), "--passes", str(passes),
                                       "--seed", str(seed)])
        for record in records:
            self._check(record)
        summary = [r for r in records if r.get("op") == "memtest"]
        if not summary:
            raise DuzeDevazuError("the memory test gave no summary (status %d)" % status, records, status)
        mismatches = [r for r in records if r.get("op") == "mismatch"]
        if summary[-1]["mismatches"] != 0:
            raise MemtestFailed(summary[-1], mismatches, status)
        return summary[-1]
