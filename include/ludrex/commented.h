/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * Games with comments: narrows a subset to the games whose game score carries comments. A DOS
 * base answers from its comment references; a reference base from the base it stands for. */
#ifndef LUDREX_COMMENTED_H
#define LUDREX_COMMENTED_H

#ifdef __cplusplus
extern "C" {
#endif

/* Removes from subset (of the base's record count) the games without comments; reports
 * progress, and a progress step that returns nonzero stops it (the games not yet looked at
 * stay). */
LUDREX_API void LUDREX_CDECL Base_GetCommented(LudrexBase* base, LudrexSubset* subset);

#ifdef __cplusplus
}
#endif

#endif /* LUDREX_COMMENTED_H */
