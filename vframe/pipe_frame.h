/* Framing on the pipe between the virtual frame's driver and its bridge: each report travels as
 * a 2-byte little-endian length followed by the whole report (report ID byte first). The bridge
 * answers every report the driver sent with an acknowledgement: a 2-byte header alone, its top
 * bit set, saying whether the frame took the report and which one it was (the driver and the
 * bridge both number the reports of a connection 1, 2, ..., modulo VFRAME_SEQ_MASK + 1). Plain C
 * so that the driver and the bridge share one codec; no allocation, every length bounded. */
#ifndef TACTRA_VFRAME_PIPE_FRAME_H
#define TACTRA_VFRAME_PIPE_FRAME_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The longest report either side sends; a longer length marks a broken stream. */
#define VFRAME_MAX_REPORT 1024u
#define VFRAME_FRAME_HEADER 2u
#define VFRAME_MAX_FRAME (VFRAME_MAX_REPORT + VFRAME_FRAME_HEADER)
/* One pipe per collection: the prefix, then the collection's number 0..5. */
#define VFRAME_PIPE_PREFIX_W L"tactra-vframe-"
#define VFRAME_CHANNELS 6

/* An acknowledgement header: VFRAME_ACK, VFRAME_ACK_TAKEN when the frame took the report, and the
 * report's number in the low bits. */
#define VFRAME_ACK 0x8000u
#define VFRAME_ACK_TAKEN 0x4000u
#define VFRAME_SEQ_MASK 0x3FFFu
/* The longest the bridge lets a report wait for the frame to take it; after that it reports the
 * report not taken, and the driver fails the write. A frame that stops taking reports costs a
 * write this long, never the write handle. */
#define VFRAME_HOLD_MS 2000
/* Writes a device holds at once, waiting for their acknowledgements; more are refused. */
#define VFRAME_MAX_HELD 8

/* The encoded frame's length in `out`, or 0 when the report is empty, too long or `room` is too
 * small. */
static inline size_t vframe_encode(const unsigned char* report, size_t length, unsigned char* out,
                                   size_t room) {
  size_t i;
  if (length == 0 || length > VFRAME_MAX_REPORT || room < length + VFRAME_FRAME_HEADER) return 0;
  out[0] = (unsigned char)(length & 0xFF);
  out[1] = (unsigned char)(length >> 8);
  for (i = 0; i < length; ++i) out[VFRAME_FRAME_HEADER + i] = report[i];
  return length + VFRAME_FRAME_HEADER;
}

/* The 2-byte acknowledgement of report `seq`, in `out`; 0 when `room` is too small. */
static inline size_t vframe_encode_ack(unsigned seq, int taken, unsigned char* out, size_t room) {
  const unsigned header = VFRAME_ACK | (taken ? VFRAME_ACK_TAKEN : 0u) | (seq & VFRAME_SEQ_MASK);
  if (room < VFRAME_FRAME_HEADER) return 0;
  out[0] = (unsigned char)(header & 0xFF);
  out[1] = (unsigned char)(header >> 8);
  return VFRAME_FRAME_HEADER;
}

/* The body length a header announces: none for an acknowledgement. */
static inline size_t vframe_body_length(const unsigned char* header) {
  const size_t value = (size_t)header[0] | ((size_t)header[1] << 8);
  return (value & VFRAME_ACK) ? 0 : value;
}

/* Bytes received so far, held until they form a whole frame. */
struct vframe_decoder {
  unsigned char buffer[VFRAME_MAX_FRAME];
  size_t have;
  int bad; /* a length of 0 or beyond VFRAME_MAX_REPORT was seen: the stream is unusable */
};

enum vframe_next { VFRAME_NEED_MORE = 0, VFRAME_REPORT = 1, VFRAME_ACKNOWLEDGED = 2, VFRAME_BAD = -1 };

static inline void vframe_decoder_reset(struct vframe_decoder* d) {
  d->have = 0;
  d->bad = 0;
}

/* Takes up to `length` bytes from `data` into the decoder (never more than one frame's worth)
 * and returns how many it took; the caller feeds the rest after taking the frame out. */
static inline size_t vframe_feed(struct vframe_decoder* d, const unsigned char* data, size_t length) {
  size_t want, take, i;
  if (d->bad) return 0;
  if (d->have < VFRAME_FRAME_HEADER) {
    want = VFRAME_FRAME_HEADER - d->have;
  } else {
    want = VFRAME_FRAME_HEADER + vframe_body_length(d->buffer) - d->have;
  }
  take = length < want ? length : want;
  for (i = 0; i < take; ++i) d->buffer[d->have + i] = data[i];
  d->have += take;
  if (d->have == VFRAME_FRAME_HEADER && !(d->buffer[1] & (VFRAME_ACK >> 8))) {
    const size_t body = vframe_body_length(d->buffer);
    if (body == 0 || body > VFRAME_MAX_REPORT) d->bad = 1;
  }
  return take;
}

/* VFRAME_REPORT when a whole frame is held: `*report` and `*length` then name its report, valid
 * until the next feed; VFRAME_ACKNOWLEDGED for an acknowledgement, whose header `*length` then
 * holds (no report). The frame is released by that call. */
static inline enum vframe_next vframe_next_report(struct vframe_decoder* d, const unsigned char** report,
                                                  size_t* length) {
  size_t body;
  if (d->bad) return VFRAME_BAD;
  if (d->have < VFRAME_FRAME_HEADER) return VFRAME_NEED_MORE;
  if (d->buffer[1] & (VFRAME_ACK >> 8)) {
    *report = 0;
    *length = (size_t)d->buffer[0] | ((size_t)d->buffer[1] << 8);
    d->have = 0;
    return VFRAME_ACKNOWLEDGED;
  }
  body = vframe_body_length(d->buffer);
  if (d->have < VFRAME_FRAME_HEADER + body) return VFRAME_NEED_MORE;
  *report = d->buffer + VFRAME_FRAME_HEADER;
  *length = body;
  d->have = 0;
  return VFRAME_REPORT;
}

/* Takes the frames out of one read from the pipe, handing each report to `on_report` and each
 * acknowledgement to `on_ack` (null on the side that never receives one: an acknowledgement
 * there breaks the stream); 0 when the stream broke its limits, and the connection must end. */
static inline int vframe_take(struct vframe_decoder* d, const unsigned char* data, size_t length,
                              void (*on_report)(void* context, const unsigned char* report, size_t length),
                              void (*on_ack)(void* context, unsigned seq, int taken), void* context) {
  while (length > 0) {
    const unsigned char* report;
    size_t report_length;
    const size_t used = vframe_feed(d, data, length);
    enum vframe_next next;
    data += used;
    length -= used;
    next = vframe_next_report(d, &report, &report_length);
    if (next == VFRAME_BAD) return 0;
    if (next == VFRAME_REPORT) {
      on_report(context, report, report_length);
    } else if (next == VFRAME_ACKNOWLEDGED) {
      if (!on_ack) return 0;
      on_ack(context, (unsigned)(report_length & VFRAME_SEQ_MASK), (report_length & VFRAME_ACK_TAKEN) != 0);
    } else if (used == 0) {
      return 0;
    }
  }
  return 1;
}

#ifdef __cplusplus
}
#endif

#endif
