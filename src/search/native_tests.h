// The native tests of a search record's fields (see NativeFieldTest): for each field of a
// standard class whose criteria are of the standard classes, a test on its stored bytes with the
// criteria's values taken at the start of the search.
#pragma once

namespace ludrex {

class CriteriaList;

// Attaches a native test to every field of the list's search record that can have one.
void AttachNativeTests(CriteriaList& list);

}  // namespace ludrex
