// What the field layer needs from the base layer above it. A library-reference field opens,
// reads and writes its library base, and Record_LinkToBase asks a base which library each of its
// library fields uses; the base layer implements LibraryAccess and installs it at start-up with
// SetLibraryAccess. Tests install a fake.
#pragma once

#include <cstdint>

#include "storage/string.h"

namespace ludrex {

class Base;  // the base object of the base layer; only its address is handled here
class Record;

class LibraryAccess {
 public:
  virtual ~LibraryAccess() = default;

  // Opens the base registered under (type, name) through the registry of open bases (a second
  // open of the same name gives the same object with a higher count). Never null: a failure is
  // raised. A type of 7 or more raises 901, as the open dispatch does.
  virtual Base* Open(std::int32_t type, const String& name) = 0;
  // Gives back one open made by Open (the registry's Close).
  virtual void Close(Base* library) = 0;
  // Number of records of the library.
  virtual std::int32_t RecordCount(Base* library) = 0;
  // Fills record with library record n (0 <= n < RecordCount).
  virtual void Read(Base* library, std::int32_t n, Record& record) = 0;
  // Writes record with record number n; n = 0x10000000 finds an equal record or appends one.
  // Returns the record's position (in key order for a sorted base).
  virtual std::int32_t Write(Base* library, std::int32_t n, Record& record) = 0;
  // Maps a position in key order to a record number.
  virtual std::int32_t UnsortedFromSorted(Base* library, std::int32_t position) = 0;
  // Finds the library record with record's key or appends record, as Write with 0x10000000
  // does, and returns its record number. A library may answer it from memory.
  virtual std::int32_t AppendFind(Base* library, Record& record) {
    return UnsortedFromSorted(library, Write(library, 0x10000000, record));
  }

  // For Record_LinkToBase, of a base the host holds:
  // the base-type index,
  virtual std::int32_t BaseType(Base* base) = 0;
  // the second full name of its information,
  virtual String SecondFullName(Base* base) = 0;
  // and the library file name its own pattern gives for the type-0 field of that name (the
  // Param of the pattern entry with the same name and type 0; empty when there is none).
  virtual String LibraryFileName(Base* base, const String& fieldName) = 0;
};

// Installs the implementation (null removes it) and returns the previous one. Without one, a
// library field that needs its library raises 805.
LibraryAccess* SetLibraryAccess(LibraryAccess* access);
LibraryAccess* GetLibraryAccess();

// The record set of a library criterion, as a library field tests it: the criterion's GetBody()
// returns the address of its RecordSetView.
class RecordSetView {
 public:
  virtual ~RecordSetView() = default;
  // Whether record number n is in the set.
  virtual bool Contains(std::int32_t n) const = 0;
  // Whether the set holds every record (its current length equals its maximum length).
  virtual bool HoldsAll() const = 0;
};

}  // namespace ludrex
