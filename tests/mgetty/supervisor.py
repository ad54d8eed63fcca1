"""The supervisor library's six functions from Python: each call is one run, Initialize to DeInitialize."""
import ctypes
import os

RECORD_SIZE = 512
STATUS, USER, DISCONNECT = 54, 55, 56
STATUSES = ["Idle", "Hanging up", "Connected", "Monitoring", "Answering timeout", "Calling back", "Answering",
            "Monitoring failed"]


class StatusRequest(ctypes.Structure):
    _fields_ = [("device", ctypes.c_void_p), ("zero1", ctypes.c_uint32), ("status", ctypes.c_int32),
                ("zero2", ctypes.c_uint32)]


class UserRequest(ctypes.Structure):
    _fields_ = [("device", ctypes.c_void_p), ("user", ctypes.c_char * 276)]


class Supervisor:
    def __init__(self, library, root):
        self.root = root
        self.library = ctypes.CDLL(library)
        for name in ("SuprvInitialize", "SuprvDeInitialize", "SuprvEnumAccessInfo", "SuprvGetAccessInfo",
                     "SuprvSetAccessInfo", "SuprvRequest"):
            getattr(self.library, name).restype = ctypes.c_uint32

    def described(self):
        """What the library says its last failed initialisation failed on."""
        text = ctypes.create_string_buffer(512)
        self.library.SuprvDescribeFailure(text, len(text))
        return text.value.decode()

    def run(self, action):
        """Calls action() inside one run; the result of Initialize when it fails, else action's."""
        before = os.environ.get("SUPRV_ROOT")
        os.environ["SUPRV_ROOT"] = self.root
        try:
            result = self.library.SuprvInitialize(ctypes.byref(ctypes.c_uint32(0)))
            if result != 0:
                return result
            try:
                return action()
            finally:
                self.library.SuprvDeInitialize()
        finally:
            if before is None:
                del os.environ["SUPRV_ROOT"]
            else:
                os.environ["SUPRV_ROOT"] = before

    def names(self):
        def enumerate_names():
            size, count = ctypes.c_uint32(0), ctypes.c_uint32(0)
            self.library.SuprvEnumAccessInfo(None, ctypes.byref(size), ctypes.byref(count))
            buffer = ctypes.create_string_buffer(size.value)
            self.library.SuprvEnumAccessInfo(buffer, ctypes.byref(size), ctypes.byref(count))
            return [name.decode() for name in buffer.raw[:size.value].split(b"\0")[:count.value]]
        return self.run(enumerate_names)

    def record(self, name):
        record = ctypes.create_string_buffer(RECORD_SIZE)
        size = ctypes.c_uint32(RECORD_SIZE)
        result = self.library.SuprvGetAccessInfo(name.encode(), record, ctypes.byref(size))
        assert result == 0, f"{name}: record not read, error {result}"
        return record

    def fields(self, name):
        """The record's device type, enabled bit, server type and comment."""
        def read():
            raw = self.record(name).raw
            text = lambda at, end: raw[at:end].split(b"\0")[0].decode(errors="replace")
            return text(129, 148), raw[148] & 1 == 1, text(156, 160), text(204, RECORD_SIZE)
        return self.run(read)

    def status(self, name):
        def ask():
            record = self.record(name)
            request = StatusRequest(ctypes.addressof(record), 0, -1, 0)
            self.library.SuprvRequest(STATUS, ctypes.byref(request), 0)
            return STATUSES[request.status] if 0 <= request.status < len(STATUSES) else "Unknown"
        return self.run(ask)

    def user(self, name):
        def ask():
            record = self.record(name)
            request = UserRequest(ctypes.addressof(record))
            self.library.SuprvRequest(USER, ctypes.byref(request), 0)
            return request.user.decode()
        return self.run(ask)

    def set_enabled(self, name, enabled):
        def write():
            record = self.record(name)
            record[148] = bytes([(record.raw[148] & ~1) | int(enabled)])
            return self.library.SuprvSetAccessInfo(record)
        return self.run(write)

    def disconnect(self, name):
        return self.run(lambda: self.library.SuprvRequest(DISCONNECT, self.record(name), 0))

    def request_on_record(self, code, record):
        """A request with a record the caller made up."""
        return self.run(lambda: self.library.SuprvRequest(code, record, 0))
