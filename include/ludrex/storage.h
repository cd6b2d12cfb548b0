/* Part of the public interface; include "ludrex.h", never this file alone. */
#ifndef LUDREX_STORAGE_H
#define LUDREX_STORAGE_H

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
