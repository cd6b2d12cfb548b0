/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * Fields, records and the field-type catalogue. Field and record handles are opaque; a field
 * made by Field_CreateField is destroyed with Field_DestroyField, a record with Record_Destroy
 * (which destroys its fields). Text results are copied into one shared buffer that the next
 * text-returning call overwrites. */
#ifndef LUDREX_RECORD_H
#define LUDREX_RECORD_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LudrexField LudrexField;
typedef struct LudrexRecord LudrexRecord;

/* Field type codes; a code + LUDREX_CRITERION_BIT is the search criterion for that type. */
#define LUDREX_FIELD_LIBREF 0
#define LUDREX_FIELD_STRING 1
#define LUDREX_FIELD_INT 2
#define LUDREX_FIELD_DATE 3
#define LUDREX_FIELD_CHESS 4
#define LUDREX_FIELD_RESULT 5
#define LUDREX_FIELD_ROUND 6
#define LUDREX_FIELD_ECO 7
#define LUDREX_FIELD_SEX 8
#define LUDREX_CRITERION_BIT 0x10000

/* Field flags. */
#define LUDREX_FLAG_INDEX_ONLY 1 /* library field keeps only the record number */
#define LUDREX_FLAG_KEY 2        /* the record's key field */
#define LUDREX_FLAG_DESCENDING 4 /* sort key bytes complemented */
#define LUDREX_FLAG_RAW_GAME 8   /* game-score field keeps native bytes undecoded */

/* ---- Field-type catalogue and meanings ------------------------------------------------------ */

/* Type name of a code ("<name> criterion" for criterion codes). */
LUDREX_API const char* LUDREX_CDECL CPP_GetFieldTypeName(int type);
/* 6 for integers, 3 for dates, else 0. */
LUDREX_API int LUDREX_CDECL CPP_NFieldSubtypes(int type);
/* Name / Param text of subtype k (error 801 when k is not a subtype). */
LUDREX_API const char* LUDREX_CDECL CPP_GetFieldSubtypeName(int type, int k);
LUDREX_API const char* LUDREX_CDECL CPP_GetFieldSubtypeStr(int type, int k);
/* Subtype index of a Param text (case-insensitive); 0 when unknown. */
LUDREX_API int LUDREX_CDECL CPP_GetFieldSubtypeInt(int type, const char* param);

/* The 23 standard meanings, their names and their (type, subtype) pairs. */
LUDREX_API int LUDREX_CDECL Field_NMeanings(void);
LUDREX_API const char* LUDREX_CDECL Field_MeaningName(int meaning);
LUDREX_API int LUDREX_CDECL Field_NMeaningPairs(int meaning);
LUDREX_API int LUDREX_CDECL Field_MeaningPairFieldType(int meaning, int k);
LUDREX_API int LUDREX_CDECL Field_MeaningPairSubtype(int meaning, int k);
/* "~m" for a standard meaning m != 0, else name. */
LUDREX_API const char* LUDREX_CDECL Field_PackMeaningName(int meaning, const char* name);
/* The meaning of a field name ("~m" gives m, any other name 0). */
LUDREX_API int LUDREX_CDECL Field_UnpackFieldMeaning(const char* packedName);
/* The user's part of a field name (empty for "~m"). */
LUDREX_API const char* LUDREX_CDECL Field_UnpackFieldName(const char* packedName);

/* ---- Fields --------------------------------------------------------------------------------- */

/* A new field from one pattern entry (a library field needs its nested library pattern). */
LUDREX_API LudrexField* LUDREX_CDECL Field_CreateField(const HostFieldEntry* entry);
/* Destroys a field made by Field_CreateField; null is ignored. */
LUDREX_API void LUDREX_CDECL Field_DestroyField(LudrexField* field);
LUDREX_API int32_t LUDREX_CDECL Field_GetFlags(LudrexField* field);
/* Replaces the flags and returns them. */
LUDREX_API int32_t LUDREX_CDECL Field_SetFlags(LudrexField* field, int32_t flags);
/* Sets the field's empty value. */
LUDREX_API void LUDREX_CDECL Field_SetEmpty(LudrexField* field);

/* Typed accessors: they read and write the members as given, without range checks; a field of
 * another class is refused with error 803. */
LUDREX_API const char* LUDREX_CDECL StringField_GetStrPtr(LudrexField* field);
LUDREX_API void LUDREX_CDECL StringField_SetStr(LudrexField* field, const char* text);
LUDREX_API int32_t LUDREX_CDECL IntField_GetValue(LudrexField* field);
LUDREX_API void LUDREX_CDECL IntField_SetValue(LudrexField* field, int32_t value);
LUDREX_API int32_t LUDREX_CDECL ResultField_GetValue(LudrexField* field);
LUDREX_API void LUDREX_CDECL ResultField_SetValue(LudrexField* field, int32_t value);
LUDREX_API int32_t LUDREX_CDECL SexField_GetValue(LudrexField* field);
LUDREX_API void LUDREX_CDECL SexField_SetValue(LudrexField* field, int32_t value);
LUDREX_API int32_t LUDREX_CDECL ECOField_GetValue(LudrexField* field);
LUDREX_API void LUDREX_CDECL ECOField_SetValue(LudrexField* field, int32_t value);
LUDREX_API int32_t LUDREX_CDECL DateField_GetDay(LudrexField* field);
LUDREX_API int32_t LUDREX_CDECL DateField_GetMonth(LudrexField* field);
LUDREX_API int32_t LUDREX_CDECL DateField_GetYear(LudrexField* field);
LUDREX_API void LUDREX_CDECL DateField_SetDay(LudrexField* field, int32_t day);
LUDREX_API void LUDREX_CDECL DateField_SetMonth(LudrexField* field, int32_t month);
LUDREX_API void LUDREX_CDECL DateField_SetYear(LudrexField* field, int32_t year);
/* Round = value / 512, game = value % 512. */
LUDREX_API int32_t LUDREX_CDECL RoundField_GetRoundN(LudrexField* field);
LUDREX_API int32_t LUDREX_CDECL RoundField_GetGameN(LudrexField* field);
LUDREX_API void LUDREX_CDECL RoundField_SetRoundN(LudrexField* field, int32_t round);
LUDREX_API void LUDREX_CDECL RoundField_SetGameN(LudrexField* field, int32_t game);
/* Library reference: the record number in the library (-1 none); setting it loads the record. */
LUDREX_API int32_t LUDREX_CDECL LibRefField_GetIndex(LudrexField* field);
LUDREX_API void LUDREX_CDECL LibRefField_SetIndex(LudrexField* field, int32_t index);
/* The embedded library record and its field count. */
LUDREX_API LudrexRecord* LUDREX_CDECL LibRefField_GetRecord(LudrexField* field);
LUDREX_API int32_t LUDREX_CDECL LibRefField_GetRecordLength(LudrexField* field);
/* The opened library base, or null before first use. */
LUDREX_API void* LUDREX_CDECL LibRefField_GetBaseBody(LudrexField* field);
/* A new pattern of the library record; free it with CPP_DestroyRP. */
LUDREX_API HostRecordPattern* LUDREX_CDECL LibRefField_GetRP(LudrexField* field);

/* ---- Records -------------------------------------------------------------------------------- */

/* A new record with one field per pattern entry (the host keeps its pattern block). */
LUDREX_API LudrexRecord* LUDREX_CDECL Record_CreateRecord(const HostRecordPattern* pattern);
/* Destroys the record and its fields; null is ignored. */
LUDREX_API void LUDREX_CDECL Record_Destroy(LudrexRecord* record);
/* Field i of the record (error 12 and null outside 0 .. count - 1). */
LUDREX_API LudrexField* LUDREX_CDECL Record_GetField(LudrexRecord* record, int i);
/* Binds every library field of the record to the library that base uses for it. */
LUDREX_API void LUDREX_CDECL Record_LinkToBase(LudrexRecord* record, void* base);

/* ---- Game-score fields ---------------------------------------------------------------------- */

/* The game handle of a game-score field (the move-generator component's game); null and error
 * 803 for a field of another type. */
LUDREX_API void* LUDREX_CDECL ChessField_GetBody(LudrexField* field);
/* 1 when the main lines of two game-score fields agree move for move, else 0. */
LUDREX_API int LUDREX_CDECL ChessField_EqualTo(LudrexField* a, LudrexField* b);

/* ---- PGN text of one game -------------------------------------------------------------------- */

struct LudrexBase;

/* The record as the PGN text of one game (tag lines, a blank line, the move text and the
 * termination marker; lines end with CR LF), NUL-terminated, in a block the host frees with
 * Record_DeletePGNBuffer. */
LUDREX_API char* LUDREX_CDECL Record_GetPGNBuffer(LudrexRecord* record);
LUDREX_API void LUDREX_CDECL Record_DeletePGNBuffer(char* text);
/* Fills the record from the first game of length bytes of PGN text: each field named like a tag
 * (the table's tags as "~m") takes its value, the moves field "~22" the move text, the others
 * their empty values. Error 903 when the text holds no game (no '['). */
LUDREX_API void LUDREX_CDECL Record_CreateFromPGNBuffer(LudrexRecord* record, const char* text,
                                                        int length);
/* The PGN move text (no tags, no terminator written) of game recordNumber of a base: its length,
 * minus its length when it is longer than size (buffer untouched), 0 when the base has no moves
 * field. */
LUDREX_API int LUDREX_CDECL NW_ReadNotationPGN(struct LudrexBase* base, int recordNumber,
                                               char* buffer, int size);
/* Extension: opens name + ".pgn" as a base of type 2 whose record pattern is the host's instead
 * of the one taken from the first game's tags, so that every field of that pattern is filled
 * from the tag of its name in every game. Close it with Base_BaseDestroy. Error 917 when a PGN base
 * of that name is already open, 503 when the file does not exist. */
LUDREX_API struct LudrexBase* LUDREX_CDECL Base_PgnOpenWithPattern(const char* name,
                                                                   HostRecordPattern* pattern);
/* Extension: how many of the games read so far from a PGN base (each counted once) have move
 * text the reader could not read to its end: such a game holds the moves before the first one
 * that could not be resolved. -1 for a base of another type. */
LUDREX_API int LUDREX_CDECL Base_PgnGetIncompleteCount(struct LudrexBase* base);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
