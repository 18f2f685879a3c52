#!/usr/bin/env python3
"""A minimal host in Python: loads the driver with ctypes, starts an instance on a serial
port, defines the item L01S1 (loop 1, parameter S, scale digit 1) as a float, reads it once,
prints its value and shuts the instance down.

With the installed driver (package libem7), run on a port it prints the value the
instrument holds:
  $ python3 read_one_item.py libEM.so.7 ttyUSB0
  L01S1 = 42.5

Usage: read_one_item.py LIBRARY PORT
  LIBRARY  the driver: libEM.so.7 (found where the system finds libraries), a path to it,
           or EM.dll (hostlog.dll beside it)
  PORT     ttyUSB0, pts/3, COM5
"""
import ctypes
import sys

# Result codes and command codes of em_driver.h.
EM_OK = 0
EM_CMD_COLD_START = 1
EM_CMD_DEFINE_ITEM = 3
EM_CMD_SINGLE_READ = 5
EM_CMD_SHUTDOWN = 11
EM_TYPE_FLOAT = 3
SCALE = 10  # 10 to the power of L01S1's scale digit, 1


# The records of em_driver.h; ctypes lays them out as the platform's C compiler does.
class LineSettings(ctypes.Structure):
    _fields_ = [("baudRate", ctypes.c_uint16), ("dataBits", ctypes.c_uint16),
                ("stopBits", ctypes.c_uint16), ("parity", ctypes.c_uint16)]


class PortSettings(ctypes.Structure):
    _fields_ = [("portName", ctypes.c_char * 12), ("line", LineSettings),
                ("openFlags", ctypes.c_uint16)]


class DriverState(ctypes.Structure):
    _fields_ = [("replyTimeout", ctypes.c_int32), ("portHandle", ctypes.c_size_t),
                ("enabled", ctypes.c_int32), ("port", PortSettings),
                ("reserved", ctypes.c_uint8), ("replyTerminator", ctypes.c_uint8),
                ("adapterReady", ctypes.c_uint8)]


class DriverCall(ctypes.Structure):
    _fields_ = [("state", ctypes.POINTER(DriverState)), ("command", ctypes.c_int32),
                ("driverNumber", ctypes.c_int32), ("unused", ctypes.c_uint32),
                ("parameters", ctypes.c_void_p)]


class ColdStartParameters(ctypes.Structure):
    _fields_ = [("portName", ctypes.c_char * 12), ("enabled", ctypes.c_int32),
                ("replyTimeout", ctypes.c_int32), ("line", LineSettings)]


class ItemDefinition(ctypes.Structure):
    _fields_ = [("address", ctypes.c_char_p), ("unused", ctypes.c_uint32),
                ("dataType", ctypes.c_int32), ("count", ctypes.c_int32),
                ("cleared", ctypes.c_int32), ("itemClass", ctypes.c_int32),
                ("index", ctypes.c_int32), ("bitNumber", ctypes.c_int32),
                ("width", ctypes.c_int32)]


class ItemRequest(ctypes.Structure):
    _fields_ = [("address", ctypes.c_char_p), ("unused1", ctypes.c_uint32 * 2),
                ("itemClass", ctypes.c_int32), ("index", ctypes.c_int32),
                ("unused2", ctypes.c_uint32 * 2), ("dataType", ctypes.c_int32),
                ("count", ctypes.c_int32), ("unused3", ctypes.c_uint32),
                ("values", ctypes.c_void_p)]


def main():
    if len(sys.argv) != 3 or len(sys.argv[2]) > 11:
        sys.exit("usage: read_one_item.py LIBRARY PORT (at most 11 characters)")
    driver = ctypes.CDLL(sys.argv[1])
    driver.ZelMain.argtypes = [ctypes.POINTER(DriverCall)]
    driver.ZelMain.restype = ctypes.c_int32

    state = DriverState()  # all zeros: no port is open

    def call(command, parameters=None):
        pointer = None
        if parameters is not None:
            pointer = ctypes.cast(ctypes.pointer(parameters), ctypes.c_void_p)
        return driver.ZelMain(ctypes.byref(DriverCall(ctypes.pointer(state), command, 1, 0,
                                                      pointer)))

    port = sys.argv[2]
    start = ColdStartParameters(port.encode(), 1, 100, LineSettings(9600, 8, 0, 0))
    rc = call(EM_CMD_COLD_START, start)
    if rc != EM_OK or state.adapterReady != 1:
        call(EM_CMD_SHUTDOWN)
        sys.exit(f"ColdStart on {port}: result {rc}, adapter ready {state.adapterReady}")

    address = ctypes.create_string_buffer(b"L01S1", 33)  # DefineItem rewrites it in upper case
    definition = ItemDefinition(ctypes.cast(address, ctypes.c_char_p), 0, EM_TYPE_FLOAT)
    rc = call(EM_CMD_DEFINE_ITEM, definition)
    # A float fills its 4-byte cell, and holds the value times 10 to the power of the
    # address's scale digit: 425 for the 42.5 of L01S1.
    cell = ctypes.c_float()
    if rc == EM_OK:
        request = ItemRequest(address=ctypes.cast(address, ctypes.c_char_p),
                              itemClass=definition.itemClass,
                              index=definition.index, dataType=definition.dataType, count=1,
                              values=ctypes.cast(ctypes.pointer(cell), ctypes.c_void_p))
        rc = call(EM_CMD_SINGLE_READ, request)
    call(EM_CMD_SHUTDOWN)
    if rc != EM_OK:
        sys.exit(f"reading L01S1: result {rc}")
    print(f"L01S1 = {cell.value / SCALE:g}")


if __name__ == "__main__":
    main()
