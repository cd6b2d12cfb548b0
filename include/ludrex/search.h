/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * Search criteria and the search. A criterion is a field made by Field_CreateField from an entry
 * whose type is a field type + LUDREX_CRITERION_BIT and whose name is the name of the field it
 * tests; destroy it with Field_DestroyField (or with its record). A criteria record (made by
 * Record_CreateRecord from criterion entries) holds the conditions of one search alternative.
 * Accessors of another criterion class are refused with error 803. */
#ifndef LUDREX_SEARCH_H
#define LUDREX_SEARCH_H

#ifdef __cplusplus
extern "C" {
#endif

/* Search types of a text criterion (the field text is folded to upper case, a-z only; the
 * criterion text is compared as it is). */
#define LUDREX_TEXT_EQUAL 0
#define LUDREX_TEXT_CONTAINS 1
#define LUDREX_TEXT_BEGINS 2

/* The packed form of a criterion (for storing it): its length, or minus the needed length when
 * size is smaller (buffer untouched). */
LUDREX_API int LUDREX_CDECL FieldCrit_Pack(LudrexField* crit, void* buffer, int size);
/* Sets the criterion from its packed form; a library criterion finds its records again by
 * content in the library bound with LibRefFieldCrit_SetBase (error 805 without one). */
LUDREX_API void LUDREX_CDECL FieldCrit_UnPack(LudrexField* crit, const void* bytes, int length);
/* ((year * 13 + month) << 5) + day: the date form of date criteria. */
LUDREX_API int LUDREX_CDECL FieldCrit_PackDate(int year, int month, int day);

/* Text criteria. */
LUDREX_API int LUDREX_CDECL StringFieldCrit_GetSearchType(LudrexField* crit);
LUDREX_API void LUDREX_CDECL StringFieldCrit_SetSearchType(LudrexField* crit, int type);
LUDREX_API const char* LUDREX_CDECL StringFieldCrit_GetStrPtr(LudrexField* crit);
LUDREX_API void LUDREX_CDECL StringFieldCrit_SetStr(LudrexField* crit, const char* text);

/* Range criteria of integers, dates (FieldCrit_PackDate values) and rounds (round * 512 +
 * game): a value matches when lower <= value <= upper for some pair. SetLength: a negative
 * count raises 14; Get/SetPair: i outside the pairs raises 12. */
LUDREX_API int LUDREX_CDECL IntFieldCrit_GetLength(LudrexField* crit);
LUDREX_API void LUDREX_CDECL IntFieldCrit_SetLength(LudrexField* crit, int n);
LUDREX_API void LUDREX_CDECL IntFieldCrit_GetPair(LudrexField* crit, int i, int* upper, int* lower);
LUDREX_API void LUDREX_CDECL IntFieldCrit_SetPair(LudrexField* crit, int i, int upper, int lower);
LUDREX_API int LUDREX_CDECL DateFieldCrit_GetLength(LudrexField* crit);
LUDREX_API void LUDREX_CDECL DateFieldCrit_SetLength(LudrexField* crit, int n);
LUDREX_API void LUDREX_CDECL DateFieldCrit_GetPair(LudrexField* crit, int i, int* upper,
                                                   int* lower);
LUDREX_API void LUDREX_CDECL DateFieldCrit_SetPair(LudrexField* crit, int i, int upper, int lower);
LUDREX_API int LUDREX_CDECL RoundFieldCrit_GetLength(LudrexField* crit);
LUDREX_API void LUDREX_CDECL RoundFieldCrit_SetLength(LudrexField* crit, int n);
LUDREX_API void LUDREX_CDECL RoundFieldCrit_GetPair(LudrexField* crit, int i, int* upper,
                                                    int* lower);
LUDREX_API void LUDREX_CDECL RoundFieldCrit_SetPair(LudrexField* crit, int i, int upper,
                                                    int lower);
/* Integer criteria: mode 0 ranges, 1 every bit of the mask set, 2 some bit of the mask set. */
LUDREX_API void LUDREX_CDECL IntFieldCrit_EnableBitMaskMode(LudrexField* crit, int mode);
LUDREX_API void LUDREX_CDECL IntFieldCrit_SetBitMask(LudrexField* crit, uint32_t mask);
LUDREX_API uint32_t LUDREX_CDECL IntFieldCrit_GetBitMask(LudrexField* crit);

/* Result and sex criteria: bit c of the mask admits code c (results: 1 draw, 2 White won,
 * 3 Black won, 0 unknown). */
LUDREX_API uint32_t LUDREX_CDECL ResultFieldCrit_GetValue(LudrexField* crit);
LUDREX_API void LUDREX_CDECL ResultFieldCrit_SetValue(LudrexField* crit, uint32_t mask);
LUDREX_API uint32_t LUDREX_CDECL SexFieldCrit_GetValue(LudrexField* crit);
LUDREX_API void LUDREX_CDECL SexFieldCrit_SetValue(LudrexField* crit, uint32_t mask);

/* ECO criteria: a set of the codes 0 .. 499 (A00 .. E99); a game without a code never
 * matches. The subset returned belongs to the criterion. */
LUDREX_API void LUDREX_CDECL ECOFieldCrit_SetItem(LudrexField* crit, int code, int on);
LUDREX_API int LUDREX_CDECL ECOFieldCrit_GetItem(LudrexField* crit, int code);
LUDREX_API LudrexSubset* LUDREX_CDECL ECOFieldCrit_GetSubsetBody(LudrexField* crit);
LUDREX_API void LUDREX_CDECL ECOFieldCrit_SetSubsetBody(LudrexField* crit, LudrexSubset* subset);

/* Library criteria: a set of record numbers of a library base (players, events, ...).
 * SetBase binds the library and sizes the set to its records; SetSubsetBody takes the members
 * of subset as positions in the library's key order. The subset returned belongs to the
 * criterion. */
LUDREX_API void LUDREX_CDECL LibRefFieldCrit_SetBase(LudrexField* crit, LudrexBase* library);
LUDREX_API LudrexSubset* LUDREX_CDECL LibRefFieldCrit_GetSubsetBody(LudrexField* crit);
LUDREX_API void LUDREX_CDECL LibRefFieldCrit_SetSubsetBody(LudrexField* crit,
                                                           LudrexSubset* subset,
                                                           LudrexBase* library);

/* Narrows subset (record numbers; positions in key order for a sorted base) to the games that
 * satisfy criteria record A, or the alternative B (null: none). A criterion applies to the
 * base's field of its name whose type is the criterion's without LUDREX_CRITERION_BIT;
 * conditions given only in A apply to both alternatives. Progress is reported through the
 * progress functions; a stop request keeps the games found so far. Returns the number of games
 * found, -1 on error. */
LUDREX_API int LUDREX_CDECL Base_Search(LudrexBase* base, LudrexSubset* subset,
                                        LudrexRecord* criteriaA, LudrexRecord* criteriaB);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
