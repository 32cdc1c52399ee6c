/* The host application's side of halvernsignet-share, for C and for the
 * languages that bind C (Python ctypes, Rust, Swift, ...).
 *
 *   halvernsignet_receipt* receipt = NULL;
 *   int status = halvernsignet_receive_payload("group.com.halvernsignet.mobile", 1, &receipt);
 *   if (status == HALVERNSIGNET_RECEIVE_READ) {
 *     for (size_t i = 0; i < halvernsignet_receipt_count(receipt); ++i) ...
 *   }
 *   halvernsignet_receipt_free(receipt);
 *
 * Every string belongs to the receipt and lives until it is freed. */
#ifndef HALVERNSIGNET_RECEIVE_H
#define HALVERNSIGNET_RECEIVE_H

#include <stddef.h>

#if defined(__GNUC__)
#define HALVERNSIGNET_RECEIVE_API __attribute__((visibility("default")))
#else
#define HALVERNSIGNET_RECEIVE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Outcomes; the same numbers are halvernsignet-receive's exit statuses. */
enum {
  HALVERNSIGNET_RECEIVE_READ = 0,    /* a payload was read (or taken) */
  HALVERNSIGNET_RECEIVE_FAILED = 1,  /* unreadable suite or refused payload: see _error */
  HALVERNSIGNET_RECEIVE_NOTHING = 3  /* no suite, or nothing under "ShareKey" */
};

/* What a payload holds. */
enum {
  HALVERNSIGNET_RECEIVE_TEXTS = 0, /* texts and links */
  HALVERNSIGNET_RECEIVE_MEDIA = 1  /* records of copied photos, movies and files */
};

typedef struct halvernsignet_receipt halvernsignet_receipt;

/* Reads the payload under "ShareKey" of the app group's suite, found by the
 * XDG rules of halvernsignet-share; with `take` non-zero, also removes it in
 * the same step under the suite's lock. Always sets *receipt (free it),
 * except when `app_group` or `receipt` is NULL. Returns the outcome. */
HALVERNSIGNET_RECEIVE_API int halvernsignet_receive_payload(const char* app_group, int take, halvernsignet_receipt** receipt);

/* The outcome, and for HALVERNSIGNET_RECEIVE_FAILED why ("" otherwise). */
HALVERNSIGNET_RECEIVE_API int halvernsignet_receipt_outcome(const halvernsignet_receipt* receipt);
HALVERNSIGNET_RECEIVE_API const char* halvernsignet_receipt_error(const halvernsignet_receipt* receipt);

/* HALVERNSIGNET_RECEIVE_TEXTS or _MEDIA, and how many texts or records. */
HALVERNSIGNET_RECEIVE_API int halvernsignet_receipt_kind(const halvernsignet_receipt* receipt);
HALVERNSIGNET_RECEIVE_API size_t halvernsignet_receipt_count(const halvernsignet_receipt* receipt);

/* Text `index` (texts only); NULL when out of range. */
HALVERNSIGNET_RECEIVE_API const char* halvernsignet_receipt_text(const halvernsignet_receipt* receipt, size_t index);

/* Record `index` (media only). Path and thumbnail are file URL texts; the
 * thumbnail is NULL when absent. The duration is in milliseconds; `has`
 * says whether there is one. Type: 0 image, 1 video, 2 file (-1 out of
 * range). A missing record names no file of the container that exists, or
 * names a folder holding a link that leads out of the container (the problem
 * then begins "holds a link leading out of the container: "); never follow
 * such a link, nor import that record. The problem says why (NULL when it is
 * not missing). */
HALVERNSIGNET_RECEIVE_API const char* halvernsignet_receipt_path(const halvernsignet_receipt* receipt, size_t index);
HALVERNSIGNET_RECEIVE_API const char* halvernsignet_receipt_thumbnail(const halvernsignet_receipt* receipt, size_t index);
HALVERNSIGNET_RECEIVE_API double halvernsignet_receipt_duration(const halvernsignet_receipt* receipt, size_t index, int* has);
HALVERNSIGNET_RECEIVE_API int halvernsignet_receipt_type(const halvernsignet_receipt* receipt, size_t index);
HALVERNSIGNET_RECEIVE_API int halvernsignet_receipt_missing(const halvernsignet_receipt* receipt, size_t index);
HALVERNSIGNET_RECEIVE_API const char* halvernsignet_receipt_problem(const halvernsignet_receipt* receipt, size_t index);

/* The receipt as halvernsignet-receive --json prints it (one line). */
HALVERNSIGNET_RECEIVE_API const char* halvernsignet_receipt_json(const halvernsignet_receipt* receipt);

HALVERNSIGNET_RECEIVE_API void halvernsignet_receipt_free(halvernsignet_receipt* receipt);

#ifdef __cplusplus
}
#endif

#endif
