/* omr72_standin.sys: a kernel driver for wine that stands in for the recorder's two faces.
 *
 * It answers, under the names the updater scans ("\\.\ezusb-N" and "\\.\PHYSICALDRIVEN"), the
 * four EZ-USB control codes and IOCTL_SCSI_PASS_THROUGH_DIRECT, and relays every request to
 * omr72-recorder, which holds the one emulated recorder. The recorder is reached through two
 * FIFOs inside the wine prefix (C:\omr72-standin\request and C:\omr72-standin\reply) that the
 * runner, omr72-wine-sim, connects to `omr72-recorder --stdio`.
 *
 * The model's clock is the program's own scans, as in omr72-sim: there every open of
 * PHYSICALDRIVE0 or ezusb-0 is a presence poll, and restarts, re-plugs and late arrivals move on
 * with them. So every ezusb name is always there and every open of one reaches the model (where
 * the model has nothing, the device's requests fail, as a dead device's would: wine 8 lets
 * CreateFileA succeed before the driver has answered the open). PHYSICALDRIVE0 is wine's own
 * disk; a scan that passes it opens PHYSICALDRIVE1 next, so PHYSICALDRIVE1 is always there too,
 * and each scan's open of it (the one whose first request is INQUIRY) is preceded by a STATUS,
 * the one presence poll that the open of drive 0 was. Its answer links and unlinks the other
 * disk names (PHYSICALDRIVE2..8) where the model puts the recorder and the foreign disks, so the
 * scan that the poll belongs to already sees them. Device objects, once made, live until the
 * driver unloads; only their names come and go, so a request that is already on its way never
 * meets a freed device. Nothing polls on its own: a free-running clock would let restarts and
 * re-plugs happen at other points of the program than under omr72-sim.
 *
 * Only wine runs this: it reads and writes the caller's memory for the pass-through's data
 * buffer with ZwOpenProcess and NtReadVirtualMemory / NtWriteVirtualMemory, which works because
 * wine's drivers run in a user process (winedevice.exe) while a request is handled. */
#include <ntddk.h>
#include <ntddscsi.h>

NTSYSAPI NTSTATUS NTAPI NtReadVirtualMemory(HANDLE process, const void* address, void* buffer,
                                            SIZE_T size, SIZE_T* read);
NTSYSAPI NTSTATUS NTAPI NtWriteVirtualMemory(HANDLE process, void* address, const void* buffer,
                                             SIZE_T size, SIZE_T* written);

#define POOL_TAG 0x4F6D3772u /* "r7mO" */
#define SLOTS 9
/* PROCESS_VM_OPERATION, PROCESS_VM_READ and PROCESS_VM_WRITE: the user-mode headers have them. */
#define PROCESS_VM_ACCESS (0x0008 | 0x0010 | 0x0020)

/* Control codes of the EZ-USB general-purpose driver, as the updater issues them. */
#define IOCTL_EZUSB_GET_DEVICE_DESCRIPTOR 0x222004
#define IOCTL_EZUSB_VENDOR_OR_CLASS_REQUEST 0x222059
#define IOCTL_EZUSB_BULK_READ 0x22204E
#define IOCTL_EZUSB_BULK_WRITE 0x222051
#define DEVICE_DESCRIPTOR_SIZE 18
#define VENDOR_REQUEST_BLOCK_SIZE 10
#define BULK_PIPE_BLOCK_SIZE 4
#define SCSIOP_INQUIRY_CODE 0x12

/* The recorder's wire protocol, version 1: u32 length of type and payload, u8 type, payload. */
enum {
  MSG_HELLO = 0x01,
  MSG_STATUS = 0x02,
  MSG_USB_OPEN = 0x10,
  MSG_USB_DESCRIPTOR = 0x11,
  MSG_USB_CONTROL = 0x12,
  MSG_USB_BULK_READ = 0x13,
  MSG_USB_BULK_WRITE = 0x14,
  MSG_DISK_OPEN = 0x20,
  MSG_SCSI = 0x21,
  MSG_CLOSE = 0x30,
  MSG_REPLY = 0x80,
  MSG_ERROR = 0xFF
};
#define PROTOCOL_VERSION 1
#define MAX_REPLY (16 * 1024 * 1024)

enum Face { FACE_USB, FACE_DISK, FACE_COUNT };

typedef struct {
  enum Face face;
  UCHAR slot;
} SLOT_EXTENSION;

typedef struct {
  UCHAR* bytes; /* payload after the type byte; freed with FreeReply */
  ULONG length;
} REPLY;

typedef struct {
  UCHAR usbSlot;
  UCHAR diskDrive;
  ULONG epoch;
  USHORT foreignUsb;
  USHORT foreignDisk;
} STATUS_REPLY;

static HANDLE g_request;
static HANDLE g_reply;
static volatile LONG g_linkBusy;
static BOOLEAN g_linkBroken;
static PDEVICE_OBJECT g_devices[FACE_COUNT][SLOTS];
static BOOLEAN g_linked[FACE_COUNT][SLOTS];

/* ---- little-endian fields ---- */

static void Put16(UCHAR* p, USHORT v) {
  p[0] = (UCHAR)v;
  p[1] = (UCHAR)(v >> 8);
}

static void Put32(UCHAR* p, ULONG v) {
  p[0] = (UCHAR)v;
  p[1] = (UCHAR)(v >> 8);
  p[2] = (UCHAR)(v >> 16);
  p[3] = (UCHAR)(v >> 24);
}

static USHORT Get16(const UCHAR* p) {
  return (USHORT)(p[0] | (p[1] << 8));
}

static ULONG Get32(const UCHAR* p) {
  return (ULONG)p[0] | ((ULONG)p[1] << 8) | ((ULONG)p[2] << 16) | ((ULONG)p[3] << 24);
}

/* ---- the link to omr72-recorder ---- */

static void* Allocate(SIZE_T size) {
  return ExAllocatePoolWithTag(NonPagedPool, size ? size : 1, POOL_TAG);
}

static void FreeReply(REPLY* reply) {
  if (reply->bytes) ExFreePoolWithTag(reply->bytes, POOL_TAG);
  reply->bytes = NULL;
  reply->length = 0;
}

static BOOLEAN WriteAll(const UCHAR* bytes, ULONG length) {
  while (length > 0) {
    IO_STATUS_BLOCK io;
    NTSTATUS status =
        ZwWriteFile(g_request, NULL, NULL, NULL, &io, (PVOID)bytes, length, NULL, NULL);
    if (!NT_SUCCESS(status) || io.Information == 0) return FALSE;
    bytes += io.Information;
    length -= (ULONG)io.Information;
  }
  return TRUE;
}

/* A pipe hands over what has arrived; a reply may come in several pieces. */
static BOOLEAN ReadAll(UCHAR* bytes, ULONG length) {
  while (length > 0) {
    IO_STATUS_BLOCK io;
    NTSTATUS status = ZwReadFile(g_reply, NULL, NULL, NULL, &io, bytes, length, NULL, NULL);
    if (!NT_SUCCESS(status) || io.Information == 0) return FALSE;
    bytes += io.Information;
    length -= (ULONG)io.Information;
  }
  return TRUE;
}

/* One exchange at a time on the FIFOs. Wine dispatches requests on one thread today; the lock
 * keeps the stream whole should it ever use more. Not a KMUTEX: wine 8.0's never lets a second
 * contending thread in; a flag with a short sleep between tries does. */
static void LockLink(void) {
  LARGE_INTEGER pause;
  pause.QuadPart = -1000; /* 100 us */
  while (InterlockedCompareExchange(&g_linkBusy, 1, 0) != 0) {
    KeDelayExecutionThread(KernelMode, FALSE, &pause);
  }
}

static void UnlockLink(void) {
  InterlockedExchange(&g_linkBusy, 0);
}

/* One request and its reply, with the link held. `head` and `data` are sent back to back as
 * the payload. A broken link stays broken: a half-read reply leaves the stream unusable. */
static BOOLEAN ExchangeLocked(UCHAR type, const UCHAR* head, ULONG headLength, const UCHAR* data,
                              ULONG dataLength, REPLY* reply) {
  reply->bytes = NULL;
  reply->length = 0;
  if (g_linkBroken) return FALSE;
  ULONG frameLength = 5 + headLength + dataLength;
  UCHAR* frame = Allocate(frameLength);
  if (!frame) return FALSE;
  Put32(frame, 1 + headLength + dataLength);
  frame[4] = type;
  if (headLength) RtlCopyMemory(frame + 5, head, headLength);
  if (dataLength) RtlCopyMemory(frame + 5 + headLength, data, dataLength);
  BOOLEAN sent = WriteAll(frame, frameLength);
  ExFreePoolWithTag(frame, POOL_TAG);

  UCHAR lengthBytes[4];
  UCHAR replyType = 0;
  if (!sent || !ReadAll(lengthBytes, 4)) goto broken;
  ULONG length = Get32(lengthBytes);
  if (length < 1 || length > MAX_REPLY || !ReadAll(&replyType, 1)) goto broken;
  reply->length = length - 1;
  reply->bytes = Allocate(reply->length);
  if (!reply->bytes || !ReadAll(reply->bytes, reply->length)) goto broken;
  if (replyType == (UCHAR)(type | MSG_REPLY)) return TRUE;
  if (replyType != MSG_ERROR) goto broken;
  DbgPrint("omr72_standin: request 0x%02x refused by the recorder\n", type);
  FreeReply(reply);
  return FALSE;

broken:
  DbgPrint("omr72_standin: the link to omr72-recorder broke (request 0x%02x)\n", type);
  g_linkBroken = TRUE;
  FreeReply(reply);
  return FALSE;
}

static BOOLEAN Exchange(UCHAR type, const UCHAR* head, ULONG headLength, const UCHAR* data,
                        ULONG dataLength, REPLY* reply) {
  LockLink();
  BOOLEAN ok = ExchangeLocked(type, head, headLength, data, dataLength, reply);
  UnlockLink();
  return ok;
}

/* A reply that starts with the u8 "ok" flag and is at least `length` bytes long. */
static BOOLEAN ReplyOk(const REPLY* reply, ULONG length) {
  return reply->length >= length && length >= 1 && reply->bytes[0] != 0;
}

static ULONG OpenLocked(enum Face face, UCHAR slot) {
  REPLY reply;
  if (!ExchangeLocked(face == FACE_USB ? MSG_USB_OPEN : MSG_DISK_OPEN, &slot, 1, NULL, 0, &reply)) {
    return 0;
  }
  ULONG handle = reply.length >= 4 ? Get32(reply.bytes) : 0;
  FreeReply(&reply);
  return handle;
}

static void Close(ULONG handle) {
  UCHAR head[4];
  REPLY reply;
  Put32(head, handle);
  if (Exchange(MSG_CLOSE, head, 4, NULL, 0, &reply)) FreeReply(&reply);
}

static BOOLEAN QueryStatusLocked(STATUS_REPLY* out) {
  REPLY reply;
  if (!ExchangeLocked(MSG_STATUS, NULL, 0, NULL, 0, &reply)) return FALSE;
  BOOLEAN ok = reply.length >= 10;
  if (ok) {
    out->usbSlot = reply.bytes[0];
    out->diskDrive = reply.bytes[1];
    out->epoch = Get32(reply.bytes + 2);
    out->foreignUsb = Get16(reply.bytes + 6);
    out->foreignDisk = Get16(reply.bytes + 8);
  }
  FreeReply(&reply);
  return ok;
}

/* ---- device objects and their names ---- */

static void SlotName(WCHAR* out, const WCHAR* stem, UCHAR slot) {
  ULONG i = 0;
  for (; stem[i]; ++i) out[i] = stem[i];
  out[i++] = (WCHAR)(L'0' + slot);
  out[i] = 0;
}

static void DeviceName(WCHAR* out, enum Face face, UCHAR slot) {
  SlotName(out, face == FACE_USB ? L"\\Device\\Omr72StandinUsb" : L"\\Device\\Omr72StandinDisk",
           slot);
}

static void LinkName(WCHAR* out, enum Face face, UCHAR slot) {
  SlotName(out, face == FACE_USB ? L"\\DosDevices\\ezusb-" : L"\\DosDevices\\PHYSICALDRIVE", slot);
}

static BOOLEAN EnsureDevice(PDRIVER_OBJECT driver, enum Face face, UCHAR slot) {
  if (g_devices[face][slot]) return TRUE;
  WCHAR name[64];
  UNICODE_STRING uname;
  DeviceName(name, face, slot);
  RtlInitUnicodeString(&uname, name);
  PDEVICE_OBJECT device = NULL;
  NTSTATUS status =
      IoCreateDevice(driver, sizeof(SLOT_EXTENSION), &uname,
                     face == FACE_USB ? FILE_DEVICE_UNKNOWN : FILE_DEVICE_DISK, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    DbgPrint("omr72_standin: IoCreateDevice %ls failed 0x%08lx\n", name, status);
    return FALSE;
  }
  SLOT_EXTENSION* ext = device->DeviceExtension;
  ext->face = face;
  ext->slot = slot;
  device->Flags |= DO_DIRECT_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  g_devices[face][slot] = device;
  return TRUE;
}

static void SetLinked(PDRIVER_OBJECT driver, enum Face face, UCHAR slot, BOOLEAN linked) {
  if (g_linked[face][slot] == linked) return;
  WCHAR link[64];
  WCHAR target[64];
  UNICODE_STRING ulink;
  UNICODE_STRING utarget;
  LinkName(link, face, slot);
  RtlInitUnicodeString(&ulink, link);
  if (!linked) {
    IoDeleteSymbolicLink(&ulink);
    g_linked[face][slot] = FALSE;
    return;
  }
  if (!EnsureDevice(driver, face, slot)) return;
  DeviceName(target, face, slot);
  RtlInitUnicodeString(&utarget, target);
  NTSTATUS status = IoCreateSymbolicLink(&ulink, &utarget);
  if (!NT_SUCCESS(status)) {
    /* PHYSICALDRIVE0 belongs to wine's mount manager; the runner keeps scenarios off it. */
    DbgPrint("omr72_standin: IoCreateSymbolicLink %ls failed 0x%08lx\n", link, status);
    return;
  }
  g_linked[face][slot] = TRUE;
}

/* Drive 1 stays: its opens carry the presence polls. */
static void LinkDisks(PDRIVER_OBJECT driver, const STATUS_REPLY* now) {
  USHORT wanted = (now->foreignDisk & ((1u << SLOTS) - 1)) | (1u << 1);
  if (now->diskDrive < SLOTS) wanted |= (USHORT)(1u << now->diskDrive);
  for (UCHAR drive = 1; drive < SLOTS; ++drive) {
    SetLinked(driver, FACE_DISK, drive, (wanted >> drive) & 1);
  }
}

/* The presence poll that stands for the open of PHYSICALDRIVE0, with the link held. */
static void PollLocked(PDRIVER_OBJECT driver) {
  STATUS_REPLY now;
  if (QueryStatusLocked(&now)) LinkDisks(driver, &now);
}

/* ---- requests ---- */

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static ULONG HandleOf(PIO_STACK_LOCATION stack) {
  return (ULONG)(ULONG_PTR)stack->FileObject->FsContext;
}

/* The program opens a device for one operation and closes it before the next one. An open that
 * arrives while one of ours is still open breaks that rule: it is written down, once, in
 * C:\omr72-standin\overlap, which omr72-wine-sim reports. */
static LONG g_openFiles;
static BOOLEAN g_overlapNoted;

static void NoteOverlap(const SLOT_EXTENSION* ext) {
  if (g_overlapNoted) return;
  g_overlapNoted = TRUE;
  char usbText[] = "an open of ezusb-N while another device handle was open\n";
  char diskText[] = "an open of PHYSICALDRIVEN while another device handle was open\n";
  char* text = ext->face == FACE_USB ? usbText : diskText;
  const ULONG length = ext->face == FACE_USB ? sizeof usbText - 1 : sizeof diskText - 1;
  text[ext->face == FACE_USB ? 17 : 24] = (char)('0' + ext->slot);
  HANDLE file = NULL;
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  RtlInitUnicodeString(&name, L"\\??\\C:\\omr72-standin\\overlap");
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, NULL, NULL);
  if (!NT_SUCCESS(ZwCreateFile(&file, GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, NULL,
                               FILE_ATTRIBUTE_NORMAL, 0, FILE_OVERWRITE_IF,
                               FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0))) {
    return;
  }
  ZwWriteFile(file, NULL, NULL, NULL, &io, text, length, NULL, NULL);
  ZwClose(file);
}

/* The recorder's handle for a file object: the model's answer to the open. */
static void Attach(PFILE_OBJECT file, const SLOT_EXTENSION* ext, ULONG handle) {
  file->FsContext = (PVOID)(ULONG_PTR)handle;
  if (handle && InterlockedIncrement(&g_openFiles) > 1) NoteOverlap(ext);
}

/* An open of PHYSICALDRIVE1 reaches the model with the file's first request, not at once: a
 * scan sends INQUIRY first, and only a scan's open stands for the open of drive 0 before it,
 * which was a presence poll. A command's open of drive 1 is no poll, also not while the
 * recorder has left the bus unnoticed. */
#define OPEN_DEFERRED ((PVOID)1)

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  SLOT_EXTENSION* ext = device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (ext->face == FACE_DISK && ext->slot == 1) {
    stack->FileObject->FsContext = NULL;
    stack->FileObject->FsContext2 = OPEN_DEFERRED;
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  LockLink();
  ULONG handle = OpenLocked(ext->face, ext->slot);
  UnlockLink();
  if (!handle) return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
  Attach(stack->FileObject, ext, handle);
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* ---- the pass-through block, as a 64-bit or a 32-bit caller lays it out ---- */

/* A 32-bit process on 64-bit Windows hands the driver its own layout, unconverted: a 4-byte
 * DataBuffer at 20 and the CDB at 28, 44 bytes in all. mingw's SCSI_PASS_THROUGH_DIRECT32 is no
 * help here: in a 64-bit build it takes the 64-bit pointer size, so the layout is written out. */
typedef struct {
  USHORT Length;
  UCHAR ScsiStatus;
  UCHAR PathId;
  UCHAR TargetId;
  UCHAR Lun;
  UCHAR CdbLength;
  UCHAR SenseInfoLength;
  UCHAR DataIn;
  ULONG DataTransferLength;
  ULONG TimeOutValue;
  ULONG DataBuffer;
  ULONG SenseInfoOffset;
  UCHAR Cdb[16];
} PASS_THROUGH_DIRECT_32;

_Static_assert(sizeof(PASS_THROUGH_DIRECT_32) == 44, "the 32-bit block is 44 bytes");
_Static_assert(FIELD_OFFSET(PASS_THROUGH_DIRECT_32, DataBuffer) == 20, "DataBuffer at 20");
_Static_assert(FIELD_OFFSET(PASS_THROUGH_DIRECT_32, Cdb) == 28, "Cdb at 28");
_Static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "the 64-bit block is 56 bytes");
/* The two fields the driver writes back lie at the same place in both layouts. */
_Static_assert(FIELD_OFFSET(PASS_THROUGH_DIRECT_32, ScsiStatus) ==
                   FIELD_OFFSET(SCSI_PASS_THROUGH_DIRECT, ScsiStatus),
               "ScsiStatus");
_Static_assert(FIELD_OFFSET(PASS_THROUGH_DIRECT_32, DataTransferLength) ==
                   FIELD_OFFSET(SCSI_PASS_THROUGH_DIRECT, DataTransferLength),
               "DataTransferLength");

/* Not declared in mingw's DDK headers; ntoskrnl exports it (wine 8 included). */
NTKERNELAPI BOOLEAN NTAPI IoIs32bitProcess(PIRP irp);

/* One pass-through request, whichever layout it came in. */
typedef struct {
  USHORT length;
  UCHAR cdbLength;
  UCHAR senseInfoLength;
  UCHAR dataIn;
  ULONG dataTransferLength;
  ULONG timeOutValue;
  void* dataBuffer;
  ULONG senseInfoOffset;
  const UCHAR* cdb;
  ULONG structureSize; /* what Length must say for this caller */
} PASS_THROUGH_VIEW;

/* The block in the system buffer, read in the caller's layout; FALSE when the input is too short
 * for that layout. */
static BOOLEAN ViewPassThrough(PIRP irp, ULONG inLength, PASS_THROUGH_VIEW* view) {
  const void* buffer = irp->AssociatedIrp.SystemBuffer;
  if (IoIs32bitProcess(irp)) {
    const PASS_THROUGH_DIRECT_32* b = buffer;
    if (inLength < sizeof *b) return FALSE;
    *view = (PASS_THROUGH_VIEW){b->Length,
                                b->CdbLength,
                                b->SenseInfoLength,
                                b->DataIn,
                                b->DataTransferLength,
                                b->TimeOutValue,
                                (void*)(ULONG_PTR)b->DataBuffer,
                                b->SenseInfoOffset,
                                b->Cdb,
                                sizeof *b};
    return TRUE;
  }
  const SCSI_PASS_THROUGH_DIRECT* b = buffer;
  if (inLength < sizeof *b) return FALSE;
  *view = (PASS_THROUGH_VIEW){
      b->Length,       b->CdbLength,  b->SenseInfoLength, b->DataIn, b->DataTransferLength,
      b->TimeOutValue, b->DataBuffer, b->SenseInfoOffset, b->Cdb,    sizeof *b};
  return TRUE;
}

static BOOLEAN IsInquiry(PIRP irp, ULONG code, ULONG inLength) {
  PASS_THROUGH_VIEW view;
  return code == IOCTL_SCSI_PASS_THROUGH_DIRECT && ViewPassThrough(irp, inLength, &view) &&
         view.cdb[0] == SCSIOP_INQUIRY_CODE;
}

static void OpenDeferred(PDEVICE_OBJECT device, PIRP irp, ULONG code, ULONG inLength) {
  SLOT_EXTENSION* ext = device->DeviceExtension;
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  file->FsContext2 = NULL;
  LockLink();
  if (IsInquiry(irp, code, inLength)) PollLocked(device->DriverObject);
  ULONG handle = OpenLocked(ext->face, ext->slot);
  UnlockLink();
  Attach(file, ext, handle);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG handle = HandleOf(stack);
  if (handle) {
    Close(handle);
    InterlockedDecrement(&g_openFiles);
  }
  stack->FileObject->FsContext = NULL;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static UCHAR* MdlBytes(PIRP irp, ULONG length) {
  if (length == 0 || !irp->MdlAddress) return NULL;
  return MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
}

static NTSTATUS UsbDescriptor(PIRP irp, ULONG handle, ULONG outLength) {
  if (outLength < DEVICE_DESCRIPTOR_SIZE) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  UCHAR head[4];
  REPLY reply;
  Put32(head, handle);
  if (!Exchange(MSG_USB_DESCRIPTOR, head, 4, NULL, 0, &reply)) {
    return Complete(irp, STATUS_UNSUCCESSFUL, 0);
  }
  BOOLEAN ok = ReplyOk(&reply, 1 + DEVICE_DESCRIPTOR_SIZE);
  if (ok) RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, reply.bytes + 1, DEVICE_DESCRIPTOR_SIZE);
  FreeReply(&reply);
  return Complete(irp, ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL, DEVICE_DESCRIPTOR_SIZE);
}

/* The request block becomes a standard setup packet; the data stage is the output buffer. */
static NTSTATUS UsbVendorRequest(PIRP irp, ULONG handle, ULONG inLength, ULONG outLength) {
  const UCHAR* block = irp->AssociatedIrp.SystemBuffer;
  if (inLength < VENDOR_REQUEST_BLOCK_SIZE || outLength > 0xFFFF) {
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  UCHAR* data = MdlBytes(irp, outLength);
  if (outLength && !data) return Complete(irp, STATUS_INVALID_USER_BUFFER, 0);
  const BOOLEAN toHost = block[0] != 0;
  UCHAR head[12];
  Put32(head, handle);
  head[4] = (UCHAR)((toHost ? 0x80 : 0) | ((block[1] & 3) << 5) | (block[2] & 0x1F));
  head[5] = block[4];
  head[6] = block[6];
  head[7] = block[7];
  head[8] = block[8];
  head[9] = block[9];
  Put16(head + 10, (USHORT)outLength);
  REPLY reply;
  if (!Exchange(MSG_USB_CONTROL, head, sizeof head, toHost ? NULL : data, toHost ? 0 : outLength,
                &reply)) {
    return Complete(irp, STATUS_UNSUCCESSFUL, 0);
  }
  BOOLEAN ok = ReplyOk(&reply, 5);
  ULONG moved = 0;
  if (ok) {
    moved = Get32(reply.bytes + 1);
    if (moved > outLength || reply.length < 5 + moved) moved = 0;
    if (toHost && moved) RtlCopyMemory(data, reply.bytes + 5, moved);
    if (!toHost) moved = outLength;
  }
  FreeReply(&reply);
  return Complete(irp, ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL, moved);
}

static NTSTATUS UsbBulk(PIRP irp, ULONG handle, BOOLEAN read, ULONG inLength, ULONG outLength) {
  if (inLength < BULK_PIPE_BLOCK_SIZE) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  UCHAR* data = MdlBytes(irp, outLength);
  if (outLength && !data) return Complete(irp, STATUS_INVALID_USER_BUFFER, 0);
  UCHAR head[12];
  Put32(head, handle);
  Put32(head + 4, Get32(irp->AssociatedIrp.SystemBuffer));
  Put32(head + 8, outLength);
  REPLY reply;
  if (!Exchange(read ? MSG_USB_BULK_READ : MSG_USB_BULK_WRITE, head, sizeof head,
                read ? NULL : data, read ? 0 : outLength, &reply)) {
    return Complete(irp, STATUS_UNSUCCESSFUL, 0);
  }
  BOOLEAN ok = ReplyOk(&reply, 5);
  ULONG moved = 0;
  if (ok) {
    moved = Get32(reply.bytes + 1);
    if (moved > outLength) moved = outLength;
    if (read && reply.length < 5 + moved) moved = (ULONG)reply.length - 5;
    if (read && moved) RtlCopyMemory(data, reply.bytes + 5, moved);
  }
  FreeReply(&reply);
  return Complete(irp, ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL, moved);
}

static HANDLE OpenCaller(void) {
  HANDLE process = NULL;
  OBJECT_ATTRIBUTES attributes;
  CLIENT_ID client;
  client.UniqueProcess = PsGetCurrentProcessId();
  client.UniqueThread = NULL;
  InitializeObjectAttributes(&attributes, NULL, 0, NULL, NULL);
  NTSTATUS status = ZwOpenProcess(&process, PROCESS_VM_ACCESS, &attributes, &client);
  return NT_SUCCESS(status) ? process : NULL;
}

/* What the storage port driver checks before it accepts a pass-through block: the caller's own
 * structure size in Length (44 from a 32-bit process, 56 from a 64-bit one; anything else is
 * refused as Windows refuses it), a sense buffer after the structure and inside the output
 * buffer, a known direction, a time-out from 1 s to 30 hours and no more data than the USB
 * storage driver moves in one command (64 KiB). */
#define MAX_PASS_THROUGH_TRANSFER 0x10000
#define MAX_PASS_THROUGH_TIMEOUT 108000

static BOOLEAN PassThroughBlockValid(const PASS_THROUGH_VIEW* block, ULONG outLength) {
  if (outLength < block->structureSize) return FALSE;
  if (block->length != block->structureSize) return FALSE;
  if (block->cdbLength == 0 || block->cdbLength > 16) return FALSE;
  if (block->dataIn > SCSI_IOCTL_DATA_UNSPECIFIED) return FALSE;
  if (block->timeOutValue == 0 || block->timeOutValue > MAX_PASS_THROUGH_TIMEOUT) return FALSE;
  if (block->dataTransferLength > MAX_PASS_THROUGH_TRANSFER) return FALSE;
  if (block->senseInfoLength == 0) return TRUE;
  return block->senseInfoOffset >= block->structureSize &&
         (ULONG64)block->senseInfoOffset + block->senseInfoLength <= outLength;
}

/* The pass-through block arrives buffered; its DataBuffer points into the caller. ScsiStatus and
 * DataTransferLength, the fields written back, sit at the same offsets in both layouts. */
static NTSTATUS ScsiPassThrough(PIRP irp, ULONG handle, ULONG inLength, ULONG outLength) {
  PASS_THROUGH_VIEW block;
  if (!ViewPassThrough(irp, inLength, &block) || !PassThroughBlockValid(&block, outLength)) {
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  SCSI_PASS_THROUGH_DIRECT* written = irp->AssociatedIrp.SystemBuffer;
  const BOOLEAN dataIn = block.dataIn == SCSI_IOCTL_DATA_IN;
  const ULONG length = block.dataTransferLength;
  UCHAR* data = NULL;
  HANDLE caller = NULL;
  NTSTATUS status = STATUS_SUCCESS;
  if (length) {
    caller = OpenCaller();
    data = Allocate(length);
    SIZE_T copied = 0;
    if (!caller || !data) {
      status = STATUS_INSUFFICIENT_RESOURCES;
    } else if (!dataIn &&
               !NT_SUCCESS(NtReadVirtualMemory(caller, block.dataBuffer, data, length, &copied))) {
      status = STATUS_INVALID_USER_BUFFER;
    }
  }
  if (NT_SUCCESS(status)) {
    UCHAR head[30];
    Put32(head, handle);
    head[4] = dataIn ? 1 : 0;
    head[5] = block.cdbLength;
    RtlCopyMemory(head + 6, block.cdb, 16);
    Put32(head + 22, length);
    Put32(head + 26, block.timeOutValue);
    REPLY reply;
    status = STATUS_IO_DEVICE_ERROR;
    if (Exchange(MSG_SCSI, head, sizeof head, dataIn ? NULL : data, dataIn ? 0 : length, &reply)) {
      if (ReplyOk(&reply, 6)) {
        ULONG moved = Get32(reply.bytes + 2);
        if (moved > length || reply.length < 6 + moved) moved = 0;
        written->ScsiStatus = reply.bytes[1];
        status = STATUS_SUCCESS;
        SIZE_T copied = 0;
        if (dataIn && moved &&
            !NT_SUCCESS(
                NtWriteVirtualMemory(caller, block.dataBuffer, reply.bytes + 6, moved, &copied))) {
          status = STATUS_INVALID_USER_BUFFER;
        }
        if (dataIn) written->DataTransferLength = moved;
      }
      FreeReply(&reply);
    }
  }
  if (data) ExFreePoolWithTag(data, POOL_TAG);
  if (caller) ZwClose(caller);
  return Complete(irp, status, inLength < outLength ? inLength : outLength);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  SLOT_EXTENSION* ext = device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  if (stack->FileObject->FsContext2 == OPEN_DEFERRED) OpenDeferred(device, irp, code, inLength);
  const ULONG handle = HandleOf(stack);
  /* Wine 8 completes CreateFileA before the create request has been answered, so an open of a
   * name where the model has nothing "succeeds"; its requests fail here, as on a dead device. */
  if (!handle) return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
  if (ext->face == FACE_DISK) {
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
      return ScsiPassThrough(irp, handle, inLength, outLength);
    }
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  switch (code) {
    case IOCTL_EZUSB_GET_DEVICE_DESCRIPTOR:
      return UsbDescriptor(irp, handle, outLength);
    case IOCTL_EZUSB_VENDOR_OR_CLASS_REQUEST:
      return UsbVendorRequest(irp, handle, inLength, outLength);
    case IOCTL_EZUSB_BULK_READ:
      return UsbBulk(irp, handle, TRUE, inLength, outLength);
    case IOCTL_EZUSB_BULK_WRITE:
      return UsbBulk(irp, handle, FALSE, inLength, outLength);
  }
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

/* ---- load and unload ---- */

static NTSTATUS OpenFifo(HANDLE* out, const WCHAR* path, ACCESS_MASK access) {
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  RtlInitUnicodeString(&name, path);
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, NULL, NULL);
  return ZwCreateFile(out, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                      FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  (void)driver;
  for (int face = 0; face < FACE_COUNT; ++face) {
    for (UCHAR slot = 0; slot < SLOTS; ++slot) {
      SetLinked(driver, (enum Face)face, slot, FALSE);
      if (g_devices[face][slot]) IoDeleteDevice(g_devices[face][slot]);
      g_devices[face][slot] = NULL;
    }
  }
  if (g_request) ZwClose(g_request);
  if (g_reply) ZwClose(g_reply);
}

static BOOLEAN Hello(void) {
  UCHAR head[2];
  REPLY reply;
  Put16(head, PROTOCOL_VERSION);
  if (!Exchange(MSG_HELLO, head, 2, NULL, 0, &reply)) return FALSE;
  BOOLEAN ok = reply.length >= 2 && Get16(reply.bytes) == PROTOCOL_VERSION;
  FreeReply(&reply);
  return ok;
}

static NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  (void)registryPath;
  /* Both ends are opened for reading and writing: opening a FIFO that way never waits for the
   * other side, and the wine server, which does the opening, must never wait. */
  NTSTATUS status =
      OpenFifo(&g_request, L"\\??\\C:\\omr72-standin\\request", GENERIC_READ | GENERIC_WRITE);
  if (NT_SUCCESS(status)) {
    status = OpenFifo(&g_reply, L"\\??\\C:\\omr72-standin\\reply", GENERIC_READ | GENERIC_WRITE);
  }
  if (!NT_SUCCESS(status)) {
    DbgPrint("omr72_standin: cannot open the FIFOs to omr72-recorder: 0x%08lx\n", status);
    if (g_request) ZwClose(g_request);
    return status;
  }
  if (!Hello()) {
    DbgPrint("omr72_standin: omr72-recorder does not speak protocol version %d\n",
             PROTOCOL_VERSION);
    ZwClose(g_request);
    ZwClose(g_reply);
    return STATUS_DEVICE_NOT_CONNECTED;
  }

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;

  /* The names that are always there exist before the service reports itself started. */
  for (UCHAR slot = 0; slot < SLOTS; ++slot) SetLinked(driver, FACE_USB, slot, TRUE);
  SetLinked(driver, FACE_DISK, 1, TRUE);
  return STATUS_SUCCESS;
}

/* Wine calls the entry point of a driver that imports ntdll like a DLL's first, with a DllMain
 * reason (0 to 3) as the second argument; only the call with a registry path starts the driver. */
NTSTATUS NTAPI StandinEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  if ((ULONG_PTR)registryPath <= 3) return TRUE;
  return DriverEntry(driver, registryPath);
}
