// Installs the base layer's implementation of the access that library-reference fields use.
#pragma once

namespace ludrex {

void InstallLibraryAccess();

}  // namespace ludrex
