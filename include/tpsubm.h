/*
 * tpsubm - a subtitle track model for media players.
 *
 * The player parses subtitle files itself and hands every cue to the library:
 * its start and end time in milliseconds, then its text lines. The library
 * keeps up to 64 tracks and, for each, gives it a stable identity hash,
 * answers which cue to show at a playback time, finds its one or two
 * languages through a detector the player registers and builds a readable
 * track name. It also keeps one ordered collection of tracks with a primary
 * and a secondary selection, reports the collection as JSON, strips
 * SubStation Alpha markup from lines, lists 140 text-encoding names and
 * forwards download requests to a host callback.
 *
 * ===========================================================================
 * Conventions
 * ===========================================================================
 *
 * Handles. A track is named by a handle id from 0 to 63, returned by
 * tpsubm_create. An id is valid while its slot is in use. Ids are tested as
 * unsigned values, so every negative id is simply out of range. Freed ids are
 * reused, lowest first. Readers answer an invalid id with a neutral value
 * (NULL for a text, -1 for an index, position or score, 0 for a count, time or
 * flag), never with a crash.
 *
 * Status codes. Exports that report a status return one of TPSUBM_OK (0),
 * TPSUBM_NO_SUCH_ID (1), TPSUBM_NO_LANGUAGES (2), TPSUBM_NO_DETECTOR (3),
 * TPSUBM_DUPLICATE (4), TPSUBM_INVALID (5) or TPSUBM_NO_MEMORY (6, also "a
 * table is full"). tpsubm_create and tpsubm_add_cue return an id or a
 * position (0 or more) on success and the negated code (-1, -5, -6) on
 * failure.
 *
 * Messages. Some exports leave a short lower-case message ("no such id",
 * "oom", ...) that tpsubm_last_error returns. Each export below says whether
 * it EMPTIES the message on entry (so that its success leaves it empty), SETS
 * one on failure, or LEAVES it untouched. A message survives every call that
 * leaves it untouched. Non-fatal events are kept as warnings (at most 64).
 * Nothing is ever printed or logged.
 *
 * Text. Every text in and out is NUL-terminated UTF-8. Every text that the
 * host passes in is copied. Where a text is cut to a byte length, it is cut
 * after the last complete UTF-8 sequence that fits, so valid UTF-8 never comes
 * out broken (ASCII is cut exactly at the length).
 *
 * Ownership. Every text the library returns is owned by the library: never
 * free or modify it. Each export says how long its result stays valid.
 * Constant texts (language and encoding names, the fallback "{}") live as
 * long as the library is loaded.
 *
 * Out of memory. No allocation failure ends the process or corrupts state.
 * Where a copy is essential the export fails with 6 / -6 and "oom"; where the
 * value is optional (a suffix, an encoding, a warning, one clean part) the
 * value is simply absent and the call succeeds.
 *
 * Threads. The library has none and takes no locks: call it from one thread
 * at a time. Results that are lists (active cues, clean parts, warnings) live
 * in process-wide tables read back by count and index; do not interleave
 * another query of the same kind between a query and its reads.
 *
 * Callbacks. Callbacks run synchronously on the caller's thread inside the
 * export that calls them, and receive the context registered with them as
 * their first argument. A callback may call any export, including ones that
 * destroy the track being worked on or clear the library; the library stays
 * memory-safe and the outer call then ends as its documentation says. The
 * outer call neither restores nor empties the message after a callback
 * returns, so a message left by an export that the callback called stays in
 * place until the outer call itself writes the message: a detection run
 * cleans each later marked-up line as tpsubm_clean_line does, which empties
 * the message (or sets "oom"), and sets its own message when it fails.
 */
#ifndef TPSUBM_H
#define TPSUBM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(TPSUBM_BUILDING)
#define TPSUBM_API __declspec(dllexport)
#else
#define TPSUBM_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TPSUBM_API __attribute__((visibility("default")))
#else
#define TPSUBM_API
#endif

#define TPSUBM_VERSION_MAJOR 0
#define TPSUBM_VERSION_MINOR 1
#define TPSUBM_VERSION_PATCH 0
#define TPSUBM_VERSION_HEX \
  ((TPSUBM_VERSION_MAJOR << 16) | (TPSUBM_VERSION_MINOR << 8) | TPSUBM_VERSION_PATCH)
#define TPSUBM_VERSION_STRING "0.1.0"

/* Status codes. */
#define TPSUBM_OK 0
#define TPSUBM_NO_SUCH_ID 1
#define TPSUBM_NO_LANGUAGES 2
#define TPSUBM_NO_DETECTOR 3
#define TPSUBM_DUPLICATE 4
#define TPSUBM_INVALID 5
#define TPSUBM_NO_MEMORY 6

/* Number of handle slots, active-cue entries and clean parts. */
#define TPSUBM_MAX_HANDLES 64
#define TPSUBM_MAX_ACTIVE 256
#define TPSUBM_MAX_CLEAN_PARTS 64
#define TPSUBM_MAX_WARNINGS 64

/*
 * Detector: names the language of one text. `text` is owned by the library
 * and valid only during the call; it may be empty, never holds "\N" or a
 * "{...}" block, and a cleaned part never holds a line feed. Return a
 * language code such as "en", or NULL / "" for no answer. The answer is read
 * at once and never freed; a static or reused buffer is fine.
 */
typedef const char *(*tpsubm_detector_fn)(void *ctx, const char *text);

/*
 * Translator: turns an English language name from the library's table
 * ("French") into the host's language. Return NULL to keep the English name;
 * "" is used as it is. The answer is copied at once and never freed.
 */
typedef const char *(*tpsubm_translator_fn)(void *ctx, const char *english_name);

/*
 * Download backend: performs a request whose three values only the host
 * understands. Its result is returned unchanged by tpsubm_download.
 */
typedef int32_t (*tpsubm_download_fn)(void *ctx, void *first, void *second, void *third);

/* ===========================================================================
 * Handles
 * ======================================================================== */

/*
 * Creates a track in the lowest free slot and returns its id (0..63).
 *   parent_file_hash  the host's hash text of the media file; required.
 *   index             the track's index; 0 lets tpsubm_finalize derive one.
 *   delay_ms          per-track delay, see tpsubm_effective_ms.
 *   square_brackets   non-zero: the display name is wrapped in "[ ... ]".
 *   reserved          accepted and ignored.
 *   suffix            appended to the display name, or NULL / "" for none:
 *                     "pgssub" is stored as " PGS"; a text starting with "."
 *                     is stored whole; any other is stored as "." plus at
 *                     most its first 62 bytes. A suffix that cannot be
 *                     copied is absent; that is no failure.
 * Returns the id, -5 with "parent_file_hash required" (NULL or ""), or -6
 * with "too many handles" or "oom" (no slot is then taken).
 * Message: EMPTIED on entry, SET on failure.
 */
TPSUBM_API int32_t tpsubm_create(const char *parent_file_hash, int32_t index, int32_t delay_ms,
                                 int32_t square_brackets, int32_t reserved, const char *suffix);

/*
 * Releases a track: removes it from the collection and from both selections,
 * then frees everything it owns. Every text returned for it becomes invalid.
 * Returns 0, or 1 with "no such id".
 * Message: SET to "no such id" for an invalid id, else EMPTIED.
 */
TPSUBM_API int32_t tpsubm_destroy(int32_t id);

/*
 * Releases every track and resets the collection, both selections (-1), the
 * clean parts, the warnings, the result document, the active-cue list and
 * the message. Keeps the registered callbacks and the bilingual threshold.
 * Message: EMPTIED.
 */
TPSUBM_API void tpsubm_clear(void);

/*
 * The track's file hash as decimal digits ("0".."2147483647"), "" until a
 * finalize computes it (a first finalize that fails with "hash index" or
 * "oom" keeps the hash it computed); NULL for an invalid id. Valid until
 * the track is destroyed or cleared (a later finalize rewrites it in place).
 * Message: LEFT.
 */
TPSUBM_API const char *tpsubm_file_hash(int32_t id);

/*
 * The track's index: the value given to tpsubm_create until a finalize
 * replaces it with a non-negative one; -1 for an invalid id.
 * Message: LEFT.
 */
TPSUBM_API int32_t tpsubm_index(int32_t id);

/*
 * The parent hash text given to tpsubm_create; NULL for an invalid id.
 * Valid until the track is destroyed or cleared. Message: LEFT.
 */
TPSUBM_API const char *tpsubm_parent_file_hash(int32_t id);

/* Stores the track's delay. Returns 0, or 1 for an invalid id. Message: LEFT.
 */
TPSUBM_API int32_t tpsubm_set_delay_ms(int32_t id, int32_t delay_ms);

/* The track's delay; 0 for an invalid id. Message: LEFT. */
TPSUBM_API int32_t tpsubm_delay_ms(int32_t id);

/*
 * Stores a copy of an encoding name, any text (NULL removes it). A copy that
 * cannot be allocated leaves the track with no encoding and still returns 0.
 * Returns 0, or 1 for an invalid id. Message: LEFT.
 */
TPSUBM_API int32_t tpsubm_set_encoding(int32_t id, const char *name);

/*
 * The stored encoding name, or NULL when none is set or the id is invalid.
 * Valid until the next tpsubm_set_encoding for the track, its destroy or a
 * clear. Message: LEFT.
 */
TPSUBM_API const char *tpsubm_encoding(int32_t id);

/*
 * The last message, "" when none is held. Never NULL. The buffer lives as
 * long as the library; its text changes with later calls.
 */
TPSUBM_API const char *tpsubm_last_error(void);

/* Number of warnings held, 0 to 64. Only tpsubm_clear removes warnings. */
TPSUBM_API int32_t tpsubm_warning_count(void);

/*
 * Warning i for 0 <= i < tpsubm_warning_count(), else NULL. Valid until
 * tpsubm_clear. Message: LEFT.
 */
TPSUBM_API const char *tpsubm_warning(int32_t i);

/* ===========================================================================
 * Cues and finalization
 * ======================================================================== */

/*
 * Appends a cue without lines to an open track and returns its position (0,
 * 1, 2, ... in the order of adding; positions never change). Times are not
 * tested: an end before the start is accepted (such a cue is never shown).
 * Returns the position, -1 with "no such id", -5 with "already finalized" or
 * -6 with "oom" (the cues held are unchanged).
 * Message: SET to "no such id" for an invalid id, else EMPTIED, SET on
 * failure.
 */
TPSUBM_API int32_t tpsubm_add_cue(int32_t id, int32_t start_ms, int32_t end_ms);

/*
 * Appends a copy of `text` (NULL adds "") to the lines of the cue at
 * `position` of an open track. Lines may be added to any earlier cue.
 * Returns 0, 1 with "no such id", 5 with "bad cue" (position out of range,
 * tested first) or "already finalized", or 6 with "oom".
 * Message: as tpsubm_add_cue.
 */
TPSUBM_API int32_t tpsubm_add_cue_line(int32_t id, int32_t position, const char *text);

/*
 * Completes a track: scores every cue, computes the file hash from the first
 * line of every cue (the hash of the parent text followed by "0" for a track
 * without cues), derives the index when it is 0 (and makes a given one
 * non-negative), sorts the cues by start time and records the longest span.
 * The track then takes no more cues. May run again; it recomputes everything.
 * Returns 0, 1 with "no such id", 5 with "hash" (no cues and the parent text
 * is not valid UTF-8), "hash utf8" (a first line is not valid UTF-8) or
 * "hash index", or 6 with "oom". A first finalize that fails leaves the track
 * open but keeps what it computed before failing: the score of every cue
 * always (tpsubm_cue_char_score reports it, tpsubm_cue_at_linear chooses by
 * it; lines added afterwards change no score until the next finalize), the
 * file hash too when it failed with "hash index" or "oom", and the index
 * when it failed with "oom". A repeated finalize that fails keeps the track
 * finalized and searchable.
 * Message: as tpsubm_add_cue.
 */
TPSUBM_API int32_t tpsubm_finalize(int32_t id);

/* ===========================================================================
 * Stable hash
 * ======================================================================== */

/*
 * Hashes a UTF-8 text (NULL is hashed as "") into a value from 0 to
 * 2147483647 that is the same on every run and machine. The text is decoded
 * strictly; text that is not well-formed UTF-8 is refused.
 * Returns 0 with *out written, or 5 (out NULL, or text refused) with *out
 * untouched. Hashing allocates nothing, so it cannot run out of memory.
 * Message: LEFT.
 */
TPSUBM_API int32_t tpsubm_stable_hash_utf8(const char *text, int32_t *out);

/* ===========================================================================
 * Time lookup and cue fields
 *
 * A cue is active at t when start_ms <= t < end_ms. None of these exports
 * touches the message.
 * ======================================================================== */

/*
 * The position of the cue to show at t: among the active cues the one with
 * the highest char score, then the lowest position. -1 for an invalid id, a
 * track that is not finalized or has no cues, or when nothing is active.
 * Cues with a negative start are never returned. Allocates nothing.
 */
TPSUBM_API int32_t tpsubm_cue_at(int32_t id, int32_t t);

/*
 * The same choice made by one pass over every cue; also considers cues with
 * a negative start, and works on a track that is not finalized, choosing by
 * the scores its cues hold: -1 for every cue until a finalize scores it (so
 * the lowest active position wins), the scores a failed first finalize
 * computed after one. -1 for an invalid id, a track without cues, or when
 * nothing is active. Allocates nothing.
 */
TPSUBM_API int32_t tpsubm_cue_at_linear(int32_t id, int32_t t);

/*
 * Replaces the process-wide active list with the positions of the cues
 * active at t (at most 256, by start time, then position); read it with
 * tpsubm_active_count and tpsubm_active_index. Returns 0 (also when nothing
 * is active), or 1 for an invalid id or a track that is not finalized (the
 * list is then empty). The list is not tied to the track: it survives the
 * track's destroy and is emptied by tpsubm_clear.
 */
TPSUBM_API int32_t tpsubm_active_cues(int32_t id, int32_t t);

/* Number of positions in the active list, 0 to 256. */
TPSUBM_API int32_t tpsubm_active_count(void);

/* Entry i of the active list, or -1 when i is out of range. */
TPSUBM_API int32_t tpsubm_active_index(int32_t i);

/*
 * t + x + y + z plus the track's delay when the id is valid (an invalid id
 * adds nothing and is no error). All sums wrap modulo 2^32.
 */
TPSUBM_API int32_t tpsubm_effective_ms(int32_t id, int32_t t, int32_t x, int32_t y, int32_t z);

/* The cue's start time; 0 for an invalid id or position. */
TPSUBM_API int32_t tpsubm_cue_start_ms(int32_t id, int32_t position);

/* The cue's end time (exclusive); 0 for an invalid id or position. */
TPSUBM_API int32_t tpsubm_cue_end_ms(int32_t id, int32_t position);

/* The cue's number of lines; 0 for an invalid id or position. */
TPSUBM_API int32_t tpsubm_cue_line_count(int32_t id, int32_t position);

/*
 * Line k of the cue, or NULL when the id, position or k is out of range.
 * Valid until the track is destroyed or cleared, or until language
 * detection replaces the lines of this cue (it does so for marked-up lines).
 */
TPSUBM_API const char *tpsubm_cue_line(int32_t id, int32_t position, int32_t k);

/*
 * The cue's character score: the byte length of its lines that hold a
 * non-blank byte, computed by tpsubm_finalize (also by a first finalize that
 * fails) and again by detection for a cue whose lines it replaces; -1 until a
 * finalize has scored the cue, for a cue with nothing visible, or for an
 * invalid id or position.
 */
TPSUBM_API int32_t tpsubm_cue_char_score(int32_t id, int32_t position);

/*
 * Sets the cue's consumed mark (1 for any non-zero flag). The mark is only
 * stored and reported. Returns 0, or 5 for an invalid id or position.
 */
TPSUBM_API int32_t tpsubm_cue_set_consumed(int32_t id, int32_t position, int32_t flag);

/* The cue's consumed mark, 0 or 1; 0 for an invalid id or position. */
TPSUBM_API int32_t tpsubm_cue_consumed(int32_t id, int32_t position);

/* ===========================================================================
 * Markup cleaning
 * ======================================================================== */

/*
 * Cleans one line of SubStation Alpha text into parts: every "{...}" block
 * becomes one space, "\N" splits the line (as does a line feed); nothing
 * else changes. An unclosed "{" and a stray "}" stay as they are. At most 64
 * parts are kept. The previous parts are released first, even on failure.
 * Returns 0, 5 with "null" (line NULL) or 6 with "oom". A part that cannot
 * be copied is left out without a message.
 * Message: EMPTIED (after releasing the old parts), SET on failure.
 */
TPSUBM_API int32_t tpsubm_clean_line(const char *line);

/* Number of parts of the last cleaning, 0 to 64. */
TPSUBM_API int32_t tpsubm_clean_part_count(void);

/*
 * Part i of the last cleaning, or NULL when i is out of range. Valid until
 * the next cleaning (a direct call or one made by tpsubm_detect_languages)
 * or tpsubm_clear. Message: LEFT.
 */
TPSUBM_API const char *tpsubm_clean_part(int32_t i);

/* ===========================================================================
 * Language detection
 * ======================================================================== */

/*
 * Registers the detector with its context (NULL removes it). Kept by
 * tpsubm_clear.
 */
TPSUBM_API void tpsubm_set_detector(tpsubm_detector_fn detector, void *ctx);

/*
 * Sets the ratio above which a track counts as bilingual (0.7 at load, kept
 * by tpsubm_clear), clamped to 0.0..1.0; a NaN is stored as it is (then no
 * track is bilingual). Returns the value stored.
 */
TPSUBM_API double tpsubm_set_bilingual_threshold(double threshold);

/*
 * One detection run over a finalized track. Every line of every cue, in the
 * order of adding, is handed to the detector; a line with markup ("{" or
 * "\N") is cleaned first, each part is handed over, and the parts replace
 * the line in the cue for good (the cue is scored again). Answers are votes;
 * the two codes with the most votes (ties by byte order) become language 1
 * and 2. At most 64 distinct codes are counted; an answer of 16 bytes or more
 * is cut to 15 bytes (at a UTF-8 boundary) and counted in its cut form.
 * Returns 0, 1 with "no such id", 5 with "not finalized", 3 with "no
 * detector", or 2 with "detect no languages" (no cues, or no answer). A line
 * that cannot be cleaned for lack of memory gives no vote and leaves "oom"
 * while the run goes on; a line or part that cannot be copied gives no vote,
 * and a cue whose new lines cannot all be made keeps its old lines.
 * Re-entrancy: a detector may call any export. A nested detection of the
 * track being detected returns 5 with "detection in progress". If the
 * detector destroys the track (or clears the library), the run stops and
 * returns 1 with "no such id"; nothing is lost or touched after its release.
 * Message: SET to "no such id" for an invalid id, else EMPTIED, SET on
 * failure.
 */
TPSUBM_API int32_t tpsubm_detect_languages(int32_t id);

/*
 * The first (second) detected language code, "" while there is none; NULL
 * for an invalid id. The text is the track's own and changes with the next
 * detection run of the track. Message: LEFT.
 */
TPSUBM_API const char *tpsubm_language1(int32_t id);
TPSUBM_API const char *tpsubm_language2(int32_t id);

/* Votes counted for language 1 (2); 0 for an invalid id. */
TPSUBM_API int32_t tpsubm_language1_lines(int32_t id);
TPSUBM_API int32_t tpsubm_language2_lines(int32_t id);

/*
 * The smaller vote count divided by the larger; 0.0 when either is 0 or the
 * id is invalid.
 */
TPSUBM_API double tpsubm_confidence(int32_t id);

/*
 * 1 when the track has two languages and its confidence is strictly above
 * the bilingual threshold, else 0 (also for an invalid id).
 */
TPSUBM_API int32_t tpsubm_is_bilingual(int32_t id);

/* ===========================================================================
 * Display name
 * ======================================================================== */

/*
 * Registers the translator with its context (NULL removes it: names stay
 * English). Kept by tpsubm_clear.
 */
TPSUBM_API void tpsubm_set_translator(tpsubm_translator_fn translator, void *ctx);

/*
 * Composes the track's name from the detected codes and the library's table
 * of English names:
 *   - not bilingual: the name of language 1, or its code as it is when the
 *     table lacks it ("" before any detection); language 2 plays no part;
 *   - bilingual, both codes in the table: "First & Second";
 *   - bilingual, one code in the table: that language's name alone;
 *   - bilingual, neither in the table: the code of language 1 as it is.
 * A registered translator is asked for every name shown (for two, the second
 * name first) and never for a code; its answer replaces the English name
 * unless it is NULL. The name part is cut to 399 bytes; then
 * the suffix (the whole at most 511 bytes); then "[ ... ]" when created with
 * square brackets and "{ ... }" outside that for a server file (each wrap
 * first cuts the text to 507 bytes). Cuts keep whole UTF-8 sequences.
 * Returns the track's own text, rebuilt by every call and valid until the
 * next call for the track, its destroy or a clear; NULL for an invalid id,
 * or when the translator destroyed the track. Message: LEFT.
 */
TPSUBM_API const char *tpsubm_display_name(int32_t id);

/*
 * Marks the track as a server-provided file (non-zero flag): its display name
 * is then wrapped in "{ ... }". Returns 0, or 1 for an invalid id.
 * Message: LEFT.
 */
TPSUBM_API int32_t tpsubm_set_tovrin_server_file(int32_t id, int32_t flag);

/* ===========================================================================
 * Collection and selections
 * ======================================================================== */

/*
 * Appends a finalized track to the collection, unless a member has the same
 * index. Returns 0, 1 with "no such id", 5 with "not finalized", 4 with
 * "duplicate" (and the warning "collection: duplicate Index N rejected"), or
 * 6 with "collection full".
 * Message: SET to "no such id" for an invalid id, else EMPTIED, SET on
 * failure.
 */
TPSUBM_API int32_t tpsubm_collection_add(int32_t id);

/*
 * Removes the first member equal to id, keeping the order of the others, and
 * resets a selection equal to it to -1. Returns 0, or 1 when id is not a
 * member. Message: LEFT.
 */
TPSUBM_API int32_t tpsubm_collection_remove(int32_t id);

/* Number of members, 0 to 64. */
TPSUBM_API int32_t tpsubm_collection_count(void);

/* The member at a position, or -1 when the position is out of range. */
TPSUBM_API int32_t tpsubm_collection_at(int32_t position);

/*
 * Stores the primary (secondary) selection: any negative value (meaning no
 * track) is stored as given; otherwise a valid id, finalized or not, member
 * or not. Returns 0, or 1 for a non-negative value that is not a valid id
 * (the selection is unchanged). Message: LEFT.
 */
TPSUBM_API int32_t tpsubm_set_primary(int32_t id);
TPSUBM_API int32_t tpsubm_set_secondary(int32_t id);

/* The stored primary (secondary) selection, -1 at load. */
TPSUBM_API int32_t tpsubm_primary(void);
TPSUBM_API int32_t tpsubm_secondary(void);

/* Sets both selections to -1; the collection is not touched. */
TPSUBM_API void tpsubm_close_tracks(void);

/* ===========================================================================
 * Result document
 * ======================================================================== */

/*
 * The collection as one minified JSON object:
 *   {"collection_count":N,"primary":P,"secondary":S,"items":[
 *     {"id":..,"index":..,"file_hash":"..","parent":"..","cues":..,
 *      "lang1":"..","lang2":"..","delay_ms":..}, ...]}
 * Never NULL. Returns "{}" when the document cannot be built or written (no
 * memory, or a parent text or language code that is not valid UTF-8). The
 * text is valid until the next tpsubm_result_json or tpsubm_clear.
 * Message: LEFT.
 */
TPSUBM_API const char *tpsubm_result_json(void);

/* ===========================================================================
 * Encoding names
 * ======================================================================== */

/* The number of encoding names: 140. */
TPSUBM_API int32_t tpsubm_codepage_count(void);

/*
 * Encoding name i (0..139), a constant text that lives as long as the
 * library, or NULL when i is out of range. Names may repeat ("iso-2022-jp").
 */
TPSUBM_API const char *tpsubm_codepage(int32_t i);

/* ===========================================================================
 * Downloads
 * ======================================================================== */

/*
 * Registers the download backend with its context (NULL removes it). Kept by
 * tpsubm_clear.
 */
TPSUBM_API void tpsubm_set_download_fn(tpsubm_download_fn fn, void *ctx);

/*
 * Forwards a request to the backend: calls fn(ctx, first, second, third)
 * once and returns its result unchanged. Returns 5 with "no download
 * backend" when none is registered, or 5 (message empty) when second or
 * third is NULL; first may be NULL.
 * Message: EMPTIED on entry, SET when no backend is registered.
 */
TPSUBM_API int32_t tpsubm_download(void *first, void *second, void *third);

#ifdef __cplusplus
}
#endif

#endif /* TPSUBM_H */
