"""The static import table of a PE32+ image, read from its file."""
import struct


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        header = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[header:header + 4] != b"PE\0\0":
            raise ValueError(path + " is not a PE image")
        section_count, optional_size = struct.unpack_from("<H12xH", self.data, header + 6)
        optional = header + 24
        if struct.unpack_from("<H", self.data, optional)[0] != 0x20B:
            raise ValueError(path + " is not a PE32+ image")
        self.directories = optional + 112
        self.sections = []
        for index in range(section_count):
            size, address, raw_size, raw_offset = struct.unpack_from("<4I", self.data, optional + optional_size
                                                                     + 40 * index + 8)
            self.sections.append((address, max(size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw_offset in self.sections:
            if address <= rva < address + size:
                return raw_offset + rva - address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def directory(self, index):
        """(RVA, size) of a data directory entry."""
        return struct.unpack_from("<2I", self.data, self.directories + 8 * index)

    def imports(self):
        """The import directory: DLL name -> imported names ("#N" for an ordinal)."""
        found = {}
        entry = self.offset(self.directory(1)[0])
        while True:
            lookup, _, _, name, address_table = struct.unpack_from("<5I", self.data, entry)
            if name == 0:
                return found
            names, thunk = [], self.offset(lookup or address_table)
            while value := struct.unpack_from("<Q", self.data, thunk)[0]:
                names.append(f"#{value & 0xFFFF}" if value >> 63 else self.text((value & 0x7FFFFFFF) + 2))
                thunk += 8
            found[self.text(name)] = names
            entry += 20
