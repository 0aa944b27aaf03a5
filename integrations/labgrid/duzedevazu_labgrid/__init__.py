"""duzedevazu_labgrid - labgrid's driver for a bench PC's KYN boards, through duzedevazu's batch JSON mode."""
from .driver import DuzeDevazuDriver, DuzeDevazuError, MemtestFailed

__all__ = ["DuzeDevazuDriver", "DuzeDevazuError", "MemtestFailed"]
