/* Part of the public interface; include "ludrex.h", never this file alone. */
#ifndef LUDREX_RECORD_H
#define LUDREX_RECORD_H

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
