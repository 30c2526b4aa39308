/* HID minidriver of the virtual frame: one device per collection of the frame, each answered by
 * the bridge over a named pipe of its own. The HID class driver above it asks for the descriptors
 * and attributes, keeps one read pending and hands down writes; input from the bridge completes
 * that read or waits in a small bounded queue. A write goes down the pipe and is held until the
 * bridge says the frame took it (or did not), so a frame that stops taking reports leaves the
 * write pending; a held write can be cancelled. A bridge that is absent or goes away leaves the
 * device present and silent (writes fail); removal completes every pending read and write. */
#include "hid_minidriver.h"
#include "vframe/device_params.h"
#include "vframe/pipe_frame.h"

/* Declared here because this toolchain's wdm.h lacks them; exported by the kernel. */
NTSTATUS NTAPI ZwCreateEvent(PHANDLE event, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                             EVENT_TYPE type, BOOLEAN initial);
NTSTATUS NTAPI ZwSetEvent(HANDLE event, PLONG previous);
NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);
NTSTATUS NTAPI ZwWaitForMultipleObjects(ULONG count, HANDLE* handles, WAIT_TYPE type, BOOLEAN alertable,
                                        PLARGE_INTEGER timeout);
NTSTATUS NTAPI ZwCancelIoFile(HANDLE file, PIO_STATUS_BLOCK io);

/* Input reports waiting for a read; the oldest is dropped when the reader falls behind, as the
 * HID class driver itself does. */
#define VFRAME_QUEUE_LENGTH 32
/* How long a write may wait for a bridge that stopped reading before it fails. */
#define VFRAME_WRITE_WAIT_MS 2000
/* Pause between attempts to reach the bridge. */
#define VFRAME_CONNECT_RETRY_MS 100

#define VFRAME_MS(ms) ((LONGLONG)(ms) * -10000)

struct vframe_report {
  USHORT length;
  UCHAR data[VFRAME_MAX_REPORT];
};

struct vframe_device {
  DEVICE_OBJECT* fdo;
  DEVICE_OBJECT* next;

  /* From the device's parameters; fixed after AddDevice. */
  ULONG channel;
  USHORT vendor;
  USHORT product;
  USHORT input_length;  /* report ID byte included */
  USHORT output_length; /* 0: no output report */
  UCHAR report_id;      /* 0: the collection has no report ID */
  UCHAR descriptor[64];
  USHORT descriptor_length;

  /* Guarded by `lock`. */
  KSPIN_LOCK lock;
  LIST_ENTRY pending_reads;
  /* Writes sent down the pipe, waiting for their acknowledgement; DriverContext[0] holds the
   * report's number on the connection, [1] the length the write reports when taken. */
  LIST_ENTRY held_writes;
  ULONG held_count;
  struct vframe_report queue[VFRAME_QUEUE_LENGTH];
  ULONG queue_head;
  ULONG queue_count;
  BOOLEAN removed;

  /* The pipe: changed only by the connection thread, and only while holding pipe_mutex, which
   * writers hold while they use it. */
  KMUTEX pipe_mutex;
  HANDLE pipe;
  ULONG sent_seq; /* the number of the last report sent on this connection */
  HANDLE write_event;
  UCHAR write_frame[VFRAME_MAX_FRAME];

  /* The connection thread and what only it touches. */
  HANDLE thread;
  HANDLE stop_event;
  HANDLE read_event;
  UCHAR read_chunk[VFRAME_MAX_FRAME];
  struct vframe_decoder decoder;
};

static struct vframe_device* vframe_from(DEVICE_OBJECT* fdo) {
  return (struct vframe_device*)((VFRAME_HID_DEVICE_EXTENSION*)fdo->DeviceExtension)->MiniDeviceExtension;
}

static void vframe_copy(void* to, const void* from, SIZE_T length) {
  UCHAR* t = (UCHAR*)to;
  const UCHAR* f = (const UCHAR*)from;
  while (length--) *t++ = *f++;
}

/* Descriptor -------------------------------------------------------------------------------- */

/* One vendor-defined application collection with one input report and, when the collection has
 * one, one output report, each a byte array of the report's length less its ID byte. */
static void vframe_build_descriptor(struct vframe_device* vf) {
  UCHAR* d = vf->descriptor;
  USHORT n = 0;
  const UCHAR usage = (UCHAR)(0x01 + vf->channel);
  const USHORT input_count = (USHORT)(vf->input_length - 1);
  d[n++] = 0x06, d[n++] = 0x00, d[n++] = 0xFF; /* usage page, vendor defined */
  d[n++] = 0x09, d[n++] = usage;               /* usage */
  d[n++] = 0xA1, d[n++] = 0x01;                /* collection (application) */
  if (vf->report_id) d[n++] = 0x85, d[n++] = vf->report_id;
  d[n++] = 0x15, d[n++] = 0x00;                /* logical minimum 0 */
  d[n++] = 0x26, d[n++] = 0xFF, d[n++] = 0x00; /* logical maximum 255 */
  d[n++] = 0x75, d[n++] = 0x08;                /* report size 8 */
  d[n++] = 0x96, d[n++] = (UCHAR)(input_count & 0xFF), d[n++] = (UCHAR)(input_count >> 8);
  d[n++] = 0x09, d[n++] = usage;
  d[n++] = 0x81, d[n++] = 0x02; /* input (data, variable, absolute) */
  if (vf->output_length) {
    const USHORT output_count = (USHORT)(vf->output_length - 1);
    d[n++] = 0x96, d[n++] = (UCHAR)(output_count & 0xFF), d[n++] = (UCHAR)(output_count >> 8);
    d[n++] = 0x09, d[n++] = usage;
    d[n++] = 0x91, d[n++] = 0x02; /* output (data, variable, absolute) */
  }
  d[n++] = 0xC0; /* end collection */
  vf->descriptor_length = n;
}

/* Parameters -------------------------------------------------------------------------------- */

static BOOLEAN vframe_read_dword(HANDLE key, const WCHAR* name, ULONG* value) {
  union {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
  } buffer;
  UNICODE_STRING value_name;
  ULONG got = 0;
  RtlInitUnicodeString(&value_name, name);
  if (!NT_SUCCESS(
          ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, &buffer, sizeof buffer, &got)))
    return FALSE;
  if (buffer.info.Type != REG_DWORD || buffer.info.DataLength != sizeof(ULONG)) return FALSE;
  vframe_copy(value, buffer.info.Data, sizeof(ULONG));
  return TRUE;
}

/* Every value must be present and in range: a device described wrongly does not start. */
static NTSTATUS vframe_read_parameters(struct vframe_device* vf, DEVICE_OBJECT* pdo) {
  HANDLE key = NULL;
  ULONG channel, vendor, product, input, output, report_id;
  BOOLEAN ok;
  NTSTATUS status = IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
  if (!NT_SUCCESS(status)) return status;
  ok = vframe_read_dword(key, VFRAME_VALUE_CHANNEL, &channel) &&
       vframe_read_dword(key, VFRAME_VALUE_VENDOR, &vendor) &&
       vframe_read_dword(key, VFRAME_VALUE_PRODUCT, &product) &&
       vframe_read_dword(key, VFRAME_VALUE_INPUT, &input) &&
       vframe_read_dword(key, VFRAME_VALUE_OUTPUT, &output) &&
       vframe_read_dword(key, VFRAME_VALUE_REPORT_ID, &report_id);
  ZwClose(key);
  if (!ok || channel >= VFRAME_CHANNELS || vendor > 0xFFFF || product > 0xFFFF || input < 2 ||
      input > VFRAME_MAX_REPORT || output == 1 || output > VFRAME_MAX_REPORT || report_id > 0xFF) {
    return STATUS_INVALID_PARAMETER;
  }
  vf->channel = channel;
  vf->vendor = (USHORT)vendor;
  vf->product = (USHORT)product;
  vf->input_length = (USHORT)input;
  vf->output_length = (USHORT)output;
  vf->report_id = (UCHAR)report_id;
  vframe_build_descriptor(vf);
  return STATUS_SUCCESS;
}

/* Reads ------------------------------------------------------------------------------------- */

static void WINAPI vframe_cancel_read(DEVICE_OBJECT* fdo, IRP* irp) {
  struct vframe_device* vf = vframe_from(fdo);
  KIRQL irql;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&vf->lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  InitializeListHead(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&vf->lock, irql);
  irp->IoStatus.Status = STATUS_CANCELLED;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

/* The oldest pending read that is not being cancelled; called with `lock` held. */
static IRP* vframe_pop_read(struct vframe_device* vf) {
  while (!IsListEmpty(&vf->pending_reads)) {
    LIST_ENTRY* entry = RemoveHeadList(&vf->pending_reads);
    IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (IoSetCancelRoutine(irp, NULL)) return irp;
    /* Its cancel routine runs and completes it; leave the entry safe to unlink again. */
    InitializeListHead(entry);
  }
  return NULL;
}

/* Copies a whole report into a read's buffer, without the ID byte when the collection has no
 * report ID (as the class driver expects), and sets the read's result. */
static void vframe_fill_read(struct vframe_device* vf, IRP* irp, const UCHAR* report, USHORT length) {
  const ULONG room = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
  const UCHAR* from = report;
  ULONG count = length;
  if (!vf->report_id && count > 0) from++, count--;
  if (count > room) count = room;
  vframe_copy(irp->UserBuffer, from, count);
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = count;
}

static NTSTATUS vframe_read(struct vframe_device* vf, IRP* irp) {
  KIRQL irql;
  KeAcquireSpinLock(&vf->lock, &irql);
  if (vf->removed) {
    KeReleaseSpinLock(&vf->lock, irql);
    irp->IoStatus.Status = STATUS_DEVICE_NOT_CONNECTED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_DEVICE_NOT_CONNECTED;
  }
  if (vf->queue_count > 0) {
    /* Copied under the lock: only the connection thread reuses the slot, and it takes the lock. */
    const struct vframe_report* report = &vf->queue[vf->queue_head];
    vframe_fill_read(vf, irp, report->data, report->length);
    vf->queue_head = (vf->queue_head + 1) % VFRAME_QUEUE_LENGTH;
    vf->queue_count--;
    KeReleaseSpinLock(&vf->lock, irql);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  }
  InsertTailList(&vf->pending_reads, &irp->Tail.Overlay.ListEntry);
  IoMarkIrpPending(irp);
  IoSetCancelRoutine(irp, vframe_cancel_read);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
    /* Cancelled before the routine was set: complete it here. */
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&vf->lock, irql);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_PENDING;
  }
  KeReleaseSpinLock(&vf->lock, irql);
  return STATUS_PENDING;
}

/* An input report from the bridge: to the oldest pending read, else into the queue. */
static void vframe_deliver(void* context, const unsigned char* report, size_t length) {
  struct vframe_device* vf = (struct vframe_device*)context;
  KIRQL irql;
  IRP* irp;
  if (length == 0 || length > VFRAME_MAX_REPORT) return;
  KeAcquireSpinLock(&vf->lock, &irql);
  if (vf->removed) {
    KeReleaseSpinLock(&vf->lock, irql);
    return;
  }
  irp = vframe_pop_read(vf);
  if (!irp) {
    ULONG slot;
    if (vf->queue_count == VFRAME_QUEUE_LENGTH) {
      vf->queue_head = (vf->queue_head + 1) % VFRAME_QUEUE_LENGTH;
      vf->queue_count--;
    }
    slot = (vf->queue_head + vf->queue_count) % VFRAME_QUEUE_LENGTH;
    vf->queue[slot].length = (USHORT)length;
    vframe_copy(vf->queue[slot].data, report, length);
    vf->queue_count++;
    KeReleaseSpinLock(&vf->lock, irql);
    return;
  }
  KeReleaseSpinLock(&vf->lock, irql);
  vframe_fill_read(vf, irp, report, (USHORT)length);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

/* Writes ------------------------------------------------------------------------------------ */

static NTSTATUS vframe_complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static void WINAPI vframe_cancel_write(DEVICE_OBJECT* fdo, IRP* irp) {
  struct vframe_device* vf = vframe_from(fdo);
  KIRQL irql;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&vf->lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  vf->held_count--;
  KeReleaseSpinLock(&vf->lock, irql);
  /* The bridge may still acknowledge it; nothing waits for that any more. */
  vframe_complete(irp, STATUS_CANCELLED, 0);
}

static ULONG vframe_held_seq(IRP* irp) { return (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[0]; }

/* Takes a held write out of the list: the one of report `seq`, or with `any` the oldest, unless
 * it is being cancelled (its cancel routine completes it). Called with `lock` held. */
static IRP* vframe_take_held(struct vframe_device* vf, BOOLEAN any, ULONG seq) {
  LIST_ENTRY* entry;
  for (entry = vf->held_writes.Flink; entry != &vf->held_writes; entry = entry->Flink) {
    IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (!any && vframe_held_seq(irp) != seq) continue;
    if (!IoSetCancelRoutine(irp, NULL)) {
      if (any) continue;
      return NULL;
    }
    RemoveEntryList(entry);
    vf->held_count--;
    return irp;
  }
  return NULL;
}

/* Completes every held write that is not being cancelled: the bridge that would acknowledge them
 * is gone, or the device is. */
static void vframe_fail_held(struct vframe_device* vf, NTSTATUS status) {
  for (;;) {
    KIRQL irql;
    IRP* irp;
    KeAcquireSpinLock(&vf->lock, &irql);
    irp = vframe_take_held(vf, TRUE, 0);
    KeReleaseSpinLock(&vf->lock, irql);
    if (!irp) return;
    vframe_complete(irp, status, 0);
  }
}

/* The bridge's word on report `seq`: taken by the frame (the write succeeds) or not (it fails as
 * a device that did not answer in time). */
static void vframe_acknowledged(void* context, unsigned seq, int taken) {
  struct vframe_device* vf = (struct vframe_device*)context;
  KIRQL irql;
  IRP* irp;
  KeAcquireSpinLock(&vf->lock, &irql);
  irp = vframe_take_held(vf, FALSE, seq);
  KeReleaseSpinLock(&vf->lock, irql);
  if (!irp) return; /* cancelled meanwhile */
  if (taken)
    vframe_complete(irp, STATUS_SUCCESS, (ULONG_PTR)irp->Tail.Overlay.DriverContext[1]);
  else
    vframe_complete(irp, STATUS_IO_TIMEOUT, 0);
}

static NTSTATUS vframe_write(struct vframe_device* vf, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  const VFRAME_HID_XFER_PACKET* packet = (const VFRAME_HID_XFER_PACKET*)irp->UserBuffer;
  IO_STATUS_BLOCK io;
  LARGE_INTEGER wait;
  NTSTATUS status;
  SIZE_T length, frame;
  ULONG seq;
  KIRQL irql;
  UCHAR report[VFRAME_MAX_REPORT];

  /* Some class drivers pass the packet as the input buffer rather than the user buffer. */
  if (!packet && stack->Parameters.DeviceIoControl.InputBufferLength >= sizeof(VFRAME_HID_XFER_PACKET))
    packet = (const VFRAME_HID_XFER_PACKET*)stack->Parameters.DeviceIoControl.Type3InputBuffer;
  if (!packet || !packet->reportBuffer || packet->reportBufferLen == 0)
    return vframe_complete(irp, STATUS_INVALID_PARAMETER, 0);
  if (vf->output_length == 0) return vframe_complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  /* The bridge gets the whole report as the program wrote it, report ID byte first. */
  length = 0;
  if (!vf->report_id) report[length++] = 0;
  if (packet->reportBufferLen > VFRAME_MAX_REPORT - length)
    return vframe_complete(irp, STATUS_INVALID_BUFFER_SIZE, 0);
  vframe_copy(report + length, packet->reportBuffer, packet->reportBufferLen);
  length += packet->reportBufferLen;

  KeWaitForSingleObject(&vf->pipe_mutex, Executive, KernelMode, FALSE, NULL);
  if (!vf->pipe) {
    KeReleaseMutex(&vf->pipe_mutex, FALSE);
    return vframe_complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  seq = (vf->sent_seq + 1) & VFRAME_SEQ_MASK;
  irp->Tail.Overlay.DriverContext[0] = (PVOID)(ULONG_PTR)seq;
  irp->Tail.Overlay.DriverContext[1] = (PVOID)(ULONG_PTR)packet->reportBufferLen;
  /* Held before it goes down: the acknowledgement may come before the pipe write returns. */
  KeAcquireSpinLock(&vf->lock, &irql);
  if (vf->removed || vf->held_count >= VFRAME_MAX_HELD) {
    const BOOLEAN removed = vf->removed;
    KeReleaseSpinLock(&vf->lock, irql);
    KeReleaseMutex(&vf->pipe_mutex, FALSE);
    return vframe_complete(irp, removed ? STATUS_DEVICE_NOT_CONNECTED : STATUS_DEVICE_BUSY, 0);
  }
  IoMarkIrpPending(irp);
  InsertTailList(&vf->held_writes, &irp->Tail.Overlay.ListEntry);
  vf->held_count++;
  IoSetCancelRoutine(irp, vframe_cancel_write);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
    /* Cancelled before the routine was set: it never goes down. */
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    vf->held_count--;
    KeReleaseSpinLock(&vf->lock, irql);
    KeReleaseMutex(&vf->pipe_mutex, FALSE);
    vframe_complete(irp, STATUS_CANCELLED, 0);
    return STATUS_PENDING;
  }
  KeReleaseSpinLock(&vf->lock, irql);

  frame = vframe_encode(report, length, vf->write_frame, sizeof vf->write_frame);
  status = ZwWriteFile(vf->pipe, vf->write_event, NULL, NULL, &io, vf->write_frame, (ULONG)frame, NULL, NULL);
  if (status == STATUS_PENDING) {
    wait.QuadPart = VFRAME_MS(VFRAME_WRITE_WAIT_MS);
    if (ZwWaitForSingleObject(vf->write_event, FALSE, &wait) == STATUS_TIMEOUT) {
      IO_STATUS_BLOCK cancel;
      ZwCancelIoFile(vf->pipe, &cancel);
      ZwWaitForSingleObject(vf->write_event, FALSE, &wait);
      status = STATUS_DEVICE_NOT_CONNECTED;
    } else {
      status = io.Status;
    }
  }
  if (NT_SUCCESS(status)) vf->sent_seq = seq;
  KeReleaseMutex(&vf->pipe_mutex, FALSE);
  if (!NT_SUCCESS(status)) {
    /* Never went down: no acknowledgement comes for it. */
    KeAcquireSpinLock(&vf->lock, &irql);
    irp = vframe_take_held(vf, FALSE, seq);
    KeReleaseSpinLock(&vf->lock, irql);
    if (irp) vframe_complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  return STATUS_PENDING;
}

/* The connection to the bridge ---------------------------------------------------------------- */

static BOOLEAN vframe_connect(struct vframe_device* vf) {
  WCHAR name[64] = L"\\Device\\NamedPipe\\" VFRAME_PIPE_PREFIX_W;
  UNICODE_STRING pipe_name;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  HANDLE pipe = NULL;
  SIZE_T end = 0;
  while (name[end]) end++;
  name[end] = (WCHAR)(L'0' + vf->channel);
  name[end + 1] = 0;
  RtlInitUnicodeString(&pipe_name, name);
  InitializeObjectAttributes(&attributes, &pipe_name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  /* No synchronous-I/O option: reads and writes complete through events, so a wait can end
   * on the stop event instead. */
  if (!NT_SUCCESS(ZwCreateFile(&pipe, GENERIC_READ | GENERIC_WRITE, &attributes, &io, NULL, 0, 0, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, NULL, 0))) {
    return FALSE;
  }
  KeWaitForSingleObject(&vf->pipe_mutex, Executive, KernelMode, FALSE, NULL);
  vf->pipe = pipe;
  vf->sent_seq = 0; /* the bridge numbers this connection's reports from 1 */
  KeReleaseMutex(&vf->pipe_mutex, FALSE);
  vframe_decoder_reset(&vf->decoder);
  return TRUE;
}

static void vframe_disconnect(struct vframe_device* vf) {
  HANDLE pipe;
  KeWaitForSingleObject(&vf->pipe_mutex, Executive, KernelMode, FALSE, NULL);
  pipe = vf->pipe;
  vf->pipe = NULL;
  KeReleaseMutex(&vf->pipe_mutex, FALSE);
  if (pipe) ZwClose(pipe);
  /* Their acknowledgements went with the bridge. */
  vframe_fail_held(vf, STATUS_DEVICE_NOT_CONNECTED);
}

static void NTAPI vframe_connection_thread(void* context) {
  struct vframe_device* vf = (struct vframe_device*)context;
  for (;;) {
    IO_STATUS_BLOCK io;
    NTSTATUS status;
    if (!vf->pipe && !vframe_connect(vf)) {
      LARGE_INTEGER retry;
      retry.QuadPart = VFRAME_MS(VFRAME_CONNECT_RETRY_MS);
      if (ZwWaitForSingleObject(vf->stop_event, FALSE, &retry) != STATUS_TIMEOUT) break;
      continue;
    }
    status = ZwReadFile(vf->pipe, vf->read_event, NULL, NULL, &io, vf->read_chunk, sizeof vf->read_chunk,
                        NULL, NULL);
    if (status == STATUS_PENDING) {
      HANDLE waits[2];
      waits[0] = vf->read_event;
      waits[1] = vf->stop_event;
      if (ZwWaitForMultipleObjects(2, waits, WaitAny, FALSE, NULL) != STATUS_WAIT_0) {
        /* Stopping: the read must be over before its buffer and status block go. */
        IO_STATUS_BLOCK cancel;
        LARGE_INTEGER wait;
        wait.QuadPart = VFRAME_MS(1000);
        ZwCancelIoFile(vf->pipe, &cancel);
        ZwWaitForSingleObject(vf->read_event, FALSE, &wait);
        break;
      }
      status = io.Status;
    }
    /* The bridge went away, or sent what no bridge sends: wait for the next one. */
    if (!NT_SUCCESS(status) ||
        !vframe_take(&vf->decoder, vf->read_chunk, io.Information, vframe_deliver, vframe_acknowledged, vf))
      vframe_disconnect(vf);
  }
  vframe_disconnect(vf);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

static void vframe_close_handle(HANDLE* handle) {
  if (*handle) ZwClose(*handle);
  *handle = NULL;
}

static NTSTATUS vframe_start(struct vframe_device* vf) {
  NTSTATUS status;
  KIRQL irql;
  if (vf->thread) return STATUS_SUCCESS;
  if (!NT_SUCCESS(status =
                      ZwCreateEvent(&vf->stop_event, EVENT_ALL_ACCESS, NULL, NotificationEvent, FALSE)) ||
      !NT_SUCCESS(status =
                      ZwCreateEvent(&vf->read_event, EVENT_ALL_ACCESS, NULL, NotificationEvent, FALSE)) ||
      !NT_SUCCESS(status =
                      ZwCreateEvent(&vf->write_event, EVENT_ALL_ACCESS, NULL, NotificationEvent, FALSE))) {
    return status;
  }
  KeAcquireSpinLock(&vf->lock, &irql);
  vf->removed = FALSE;
  KeReleaseSpinLock(&vf->lock, irql);
  return PsCreateSystemThread(&vf->thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, vframe_connection_thread, vf);
}

/* Ends the connection and completes every pending read and held write; safe to call more than
 * once. */
static void vframe_stop(struct vframe_device* vf) {
  KIRQL irql;
  IRP* irp;
  KeAcquireSpinLock(&vf->lock, &irql);
  vf->removed = TRUE;
  vf->queue_count = 0;
  KeReleaseSpinLock(&vf->lock, irql);
  if (vf->thread) {
    ZwSetEvent(vf->stop_event, NULL);
    ZwWaitForSingleObject(vf->thread, FALSE, NULL);
    vframe_close_handle(&vf->thread);
  }
  for (;;) {
    KeAcquireSpinLock(&vf->lock, &irql);
    irp = vframe_pop_read(vf);
    KeReleaseSpinLock(&vf->lock, irql);
    if (!irp) break;
    irp->IoStatus.Status = STATUS_DEVICE_NOT_CONNECTED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
  vframe_fail_held(vf, STATUS_DEVICE_NOT_CONNECTED);
  vframe_close_handle(&vf->stop_event);
  vframe_close_handle(&vf->read_event);
  vframe_close_handle(&vf->write_event);
}

/* Dispatch ------------------------------------------------------------------------------------ */

static NTSTATUS vframe_copy_out(IRP* irp, const void* data, ULONG length, ULONG_PTR* information) {
  const ULONG room = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
  if (!irp->UserBuffer || room < length) return STATUS_BUFFER_TOO_SMALL;
  vframe_copy(irp->UserBuffer, data, length);
  *information = length;
  return STATUS_SUCCESS;
}

static NTSTATUS vframe_string(IRP* irp, ULONG_PTR* information) {
  static const WCHAR manufacturer[] = L"Tactra";
  static const WCHAR product[] = L"Tactra virtual frame";
  const ULONG_PTR id =
      (ULONG_PTR)IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer;
  switch (id & 0xFFFF) {
    case 14: /* manufacturer */
      return vframe_copy_out(irp, manufacturer, sizeof manufacturer, information);
    case 15: /* product */
      return vframe_copy_out(irp, product, sizeof product, information);
    default: /* no serial number */
      return STATUS_NOT_SUPPORTED;
  }
}

static NTSTATUS WINAPI vframe_internal_ioctl(DEVICE_OBJECT* fdo, IRP* irp) {
  struct vframe_device* vf = vframe_from(fdo);
  const ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
  ULONG_PTR information = 0;
  NTSTATUS status;
  switch (code) {
    case VFRAME_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
      VFRAME_HID_DESCRIPTOR descriptor;
      descriptor.bLength = sizeof descriptor;
      descriptor.bDescriptorType = VFRAME_HID_HID_DESCRIPTOR_TYPE;
      descriptor.bcdHID = 0x0111;
      descriptor.bCountry = 0;
      descriptor.bNumDescriptors = 1;
      descriptor.DescriptorList[0].bReportType = VFRAME_HID_REPORT_DESCRIPTOR_TYPE;
      descriptor.DescriptorList[0].wReportLength = vf->descriptor_length;
      status = vframe_copy_out(irp, &descriptor, sizeof descriptor, &information);
      break;
    }
    case VFRAME_IOCTL_HID_GET_REPORT_DESCRIPTOR:
      status = vframe_copy_out(irp, vf->descriptor, vf->descriptor_length, &information);
      break;
    case VFRAME_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
      VFRAME_HID_DEVICE_ATTRIBUTES attributes;
      RtlZeroMemory(&attributes, sizeof attributes);
      attributes.Size = sizeof attributes;
      attributes.VendorID = vf->vendor;
      attributes.ProductID = vf->product;
      attributes.VersionNumber = 0x0100;
      status = vframe_copy_out(irp, &attributes, sizeof attributes, &information);
      break;
    }
    case VFRAME_IOCTL_HID_READ_REPORT:
      return vframe_read(vf, irp);
    case VFRAME_IOCTL_HID_WRITE_REPORT:
      return vframe_write(vf, irp);
    case VFRAME_IOCTL_HID_GET_STRING:
      status = vframe_string(irp, &information);
      break;
    case VFRAME_IOCTL_HID_ACTIVATE_DEVICE:
    case VFRAME_IOCTL_HID_DEACTIVATE_DEVICE:
      status = STATUS_SUCCESS;
      break;
    default:
      status = STATUS_NOT_SUPPORTED;
      break;
  }
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS WINAPI vframe_forwarded(DEVICE_OBJECT* device, IRP* irp, void* context) {
  (void)device;
  if (irp->PendingReturned) KeSetEvent((KEVENT*)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Sends the request down the stack and waits for it to come back. */
static NTSTATUS vframe_forward_and_wait(struct vframe_device* vf, IRP* irp) {
  KEVENT done;
  NTSTATUS status;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, vframe_forwarded, &done, TRUE, TRUE, TRUE);
  status = IoCallDriver(vf->next, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
  }
  return status;
}

static NTSTATUS vframe_pass_down(struct vframe_device* vf, IRP* irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(vf->next, irp);
}

static NTSTATUS WINAPI vframe_pnp(DEVICE_OBJECT* fdo, IRP* irp) {
  struct vframe_device* vf = vframe_from(fdo);
  NTSTATUS status;
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
      status = vframe_forward_and_wait(vf, irp);
      if (NT_SUCCESS(status)) status = vframe_start(vf);
      irp->IoStatus.Status = status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
      /* The class driver waits for its read to come back before it lets the device go. */
      vframe_stop(vf);
      irp->IoStatus.Status = STATUS_SUCCESS;
      return vframe_pass_down(vf, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      return vframe_pass_down(vf, irp);
    default:
      return vframe_pass_down(vf, irp);
  }
}

static NTSTATUS WINAPI vframe_power(DEVICE_OBJECT* fdo, IRP* irp) {
  struct vframe_device* vf = vframe_from(fdo);
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(vf->next, irp);
}

static NTSTATUS WINAPI vframe_add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* fdo) {
  VFRAME_HID_DEVICE_EXTENSION* hid = (VFRAME_HID_DEVICE_EXTENSION*)fdo->DeviceExtension;
  struct vframe_device* vf = vframe_from(fdo);
  (void)driver;
  RtlZeroMemory(vf, sizeof *vf);
  vf->fdo = fdo;
  vf->next = hid->NextDeviceObject;
  KeInitializeSpinLock(&vf->lock);
  InitializeListHead(&vf->pending_reads);
  InitializeListHead(&vf->held_writes);
  KeInitializeMutex(&vf->pipe_mutex, 0);
  return vframe_read_parameters(vf, hid->PhysicalDeviceObject);
}

static void WINAPI vframe_unload(DRIVER_OBJECT* driver) { (void)driver; }

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry_path) {
  VFRAME_HID_MINIDRIVER_REGISTRATION registration;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = vframe_internal_ioctl;
  driver->MajorFunction[IRP_MJ_PNP] = vframe_pnp;
  driver->MajorFunction[IRP_MJ_POWER] = vframe_power;
  driver->DriverExtension->AddDevice = vframe_add_device;
  driver->DriverUnload = vframe_unload;
  RtlZeroMemory(&registration, sizeof registration);
  registration.Revision = VFRAME_HID_REVISION;
  registration.DriverObject = driver;
  registration.RegistryPath = registry_path;
  registration.DeviceExtensionSize = sizeof(struct vframe_device);
  registration.DevicesArePolled = FALSE;
  return HidRegisterMinidriver(&registration);
}
