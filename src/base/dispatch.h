// Opening, creating, erasing and describing bases by name and type. A base name is a path
// without extension; an embedded base is named "<container>,<embedded>".
#pragma once

#include <cstdint>

#include "base/base.h"
#include "storage/string.h"

namespace ludrex {

class RecordPattern;

// What each base type brings: its constructor for opening, for creating, and its reader of
// short information without opening. A null member means the type cannot do that.
struct BaseFormat {
  // Constructs the base of a container name (no comma); an object whose IsOpen() is false is
  // destroyed by the dispatch and the open gives null.
  Base* (*open)(const String& name);
  Base* (*create)(const String& name, const RecordPattern& pattern);
  // Fills out from the main file's header; false when the type has no such reader.
  bool (*shortInfo)(const String& name, ShortInfo& out);
};

// The formats by type index (0-6); installed by the format folders' registration functions.
void SetBaseFormat(std::int32_t type, const BaseFormat& format);

// Opens by name: an open base of that name and type is returned with its counts raised; a
// read-only main file is served through a reference base. Raises 901, 913, 503, 914.
Base* OpenBase(const String& name, std::int32_t type);
// The open by type without the read-only redirect (what a reference base uses for its target):
// lookup, construction and registration. Raises 901, 913, 914.
Base* OpenBaseDirect(const String& name, std::int32_t type);
// Creates: 901, 913, 917 (already open), 907 (type cannot be created); erases the old files
// first. A name with a comma creates an embedded base inside its container.
Base* CreateBase(const String& name, const RecordPattern& pattern, std::int32_t type);
// Opens or creates an embedded base of an open container (914 when it is not registered).
Base* OpenEmbeddedBase(Base* container, const String& name);
Base* CreateEmbeddedBase(Base* container, const String& name, const RecordPattern& pattern);
// Closes one open of base (the registry's Close).
void CloseBase(Base* base);
// Deletes the files of a base of that name and type (and its tree files).
void EraseBase(const String& name, std::int32_t type);
// Description and record count: from the open base, else from the main file's header.
void GetShortInfo(std::int32_t type, const String& name, ShortInfo& out);

// The main file of a base name: the container part (before the first comma) plus the type's
// extension.
String MainFileName(const String& name, std::int32_t type);

}  // namespace ludrex
