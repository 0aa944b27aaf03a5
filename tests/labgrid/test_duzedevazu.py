"""test_duzedevazu.py - the labgrid driver end to end, as a lab's client uses it: labgrid's SSHDriver on a
NetworkService reaches this machine, and DuzeDevazuDriver runs the simulated tool there in batch JSON
mode. Run through labgrid's pytest plugin: pytest --lg-env ENV.yaml (tests/labgrid/run)."""
import pytest

from duzedevazu_labgrid import DuzeDevazuError, MemtestFailed


@pytest.fixture()
def board(target):
    driver = target.get_driver("DuzeDevazuDriver", name="board")
    target.activate(driver)
    return driver


def test_write_then_read(board):
    # Each call is a run of its own; the simulated board's memory lives as long as its run.
    assert board.read(0x10) == 0
    board.write(0x10, 0xDEADBEEF)
    records = board.batch(["write 0x10=0xDEADBEEF", "read 0x10", "write16 0x20=0xBEEF", "read16 0x20"])
    assert [r["value"] for r in records] == [0xDEADBEEF, 0xDEADBEEF, 0xBEEF, 0xBEEF]
    assert records[1] == {"version": 2, "line": 2, "op": "read", "device": "board", "width": 32, "address": 16,
                          "result": 0, "value": 0xDEADBEEF, "board_type": 6, "board_number": 0, "end": True}


def test_names_and_fields_from_the_map(board):
    assert board.read("UART2.CTRL") == 0
    records = board.batch(["write UART.CTRL=0x1A05", "read UART.CTRL"])
    assert records[1]["name"] == "UART.CTRL"
    assert records[1]["fields"] == [{"name": "EN", "lsb": 0, "width": 1, "value": 1},
                                    {"name": "MODE", "lsb": 1, "width": 2, "value": 2, "enum": "IRDA"},
                                    {"name": "BAUD", "lsb": 8, "width": 8, "value": 0x1A}]
    # Any operation of the tool's table, as its batch line: a decoding, a hex dump of the map's board.
    assert board.operation("decode", "0x80800322")[0]["text"] == "No such device present."
    assert board.operation("hexdump", "0:8")[0]["bytes"] == [0, 0, 0, 0, None, None, None, None]
    # A field written alone, as the option takes it (each call a new run, its board from zero).
    assert board.batch(["write UART.CTRL.MODE=1", "read UART.CTRL"])[1]["value"] == 0x2
    dump = board.dump()
    assert [[f["value"] for f in r["fields"]] for r in dump if r["name"] == "UART.CTRL"] == [[0, 0, 0]]
    assert [r["skipped"] for r in dump if r["name"] == "UART.TXDATA"] == ["write-only"]


def test_a_failed_access_raises_the_tools_text(board):
    with pytest.raises(DuzeDevazuError, match=r"0X32 \[1.4\] Register address is outside the device window."):
        board.read(0x4000000)


def test_a_memory_test_that_passes(board):
    summary = board.memtest(0, 0x10000, patterns=("address", "walking-ones", "checkerboard", "random"), passes=2)
    assert summary["mismatches"] == 0
    assert summary["patterns"] == ["address", "walking-ones", "checkerboard", "random"]


def test_a_memory_test_that_fails(target):
    # The same board with bit 8 of every word stuck low: status 3, raised as the driver's error.
    failing = target.get_driver("DuzeDevazuDriver", name="stuck")
    target.activate(failing)
    with pytest.raises(MemtestFailed) as failure:
        failing.memtest(0, 0x40, patterns=("solid",))
    assert failure.value.status == 3
    assert failure.value.summary["stuck_low"] == [8]
    assert len(failure.value.mismatches) == 16
    assert failure.value.mismatches[0]["bits"] == [8]


def test_a_session_keeps_one_run_open(board):
    # One process for every call: the simulated board's memory keeps what was written, which a new
    # run per call would not (it starts from zero).
    with board.session(patterns=("walking-ones",)) as run:
        run.write(0x100, 0x12345678)
        run.write(0x104, 0xBEEF, width=16)
        assert run.read(0x100) == 0x12345678
        assert run.read(0x104, width=16) == 0xBEEF
        assert run.read("UART.CTRL") == 0
        with pytest.raises(DuzeDevazuError, match=r"Register address is outside the device window"):
            run.read(0x4000000)
        with pytest.raises(DuzeDevazuError, match=r"'0x10=': "):
            run.write(0x10, "")
        assert run.memtest(0x1000, 0x100)["patterns"] == ["walking-ones"]
        assert run.read(0x100) == 0x12345678
    assert board.read(0x100) == 0


def test_a_session_memtest_whose_access_fails(target):
    # The memory test's failed access ends that line alone: raised, and the session goes on.
    failing = target.get_driver("DuzeDevazuDriver", name="failing")
    target.activate(failing)
    with failing.session() as run:
        with pytest.raises(DuzeDevazuError, match=r"0X22 \[1.3\] No such device present."):
            run.memtest(0, 0x40)
        assert run.read(0) == 0


def test_a_board_that_does_not_open_says_why(target):
    # The tool's own words reach the caller, in a session and in a single call alike.
    absent = target.get_driver("DuzeDevazuDriver", name="absent")
    target.activate(absent)
    with pytest.raises(DuzeDevazuError, match=r"ERROR\(0X22 \[1.3\]\) No such device present."):
        with absent.session() as run:
            run.read(0)
    with pytest.raises(DuzeDevazuError, match=r"0X22 \[1.3\]\)? No such device present."):
        absent.read(0)


def test_no_way_in_through_the_driver(board):
    # A newline in a value would add a batch line; a setting's name or a session's option would
    # reach the remote shell: each is refused or quoted, and nothing runs.
    with pytest.raises(DuzeDevazuError, match=r"control character"):
        board.read("0x10\nwrite 0x20=0xDEAD")
    saved = board.environment
    board.environment = {"X=1 ; touch F ; Y": "v"}
    try:
        with pytest.raises(DuzeDevazuError, match=r"no name of a setting"):
            board.read(0)
    finally:
        board.environment = saved
    with pytest.raises(DuzeDevazuError, match=r"--passes '1;touch Y;echo': not a number of passes"):
        with board.session(passes="1;touch Y;echo") as run:
            run.read(0)
