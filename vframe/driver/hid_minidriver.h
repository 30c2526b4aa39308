/* The HID class driver's interface to a minidriver, declared from the public documentation:
 * this toolchain has no hidport.h, and its ddk/hidclass.h numbers some of these requests
 * differently from the system. */
#ifndef TACTRA_VFRAME_HID_MINIDRIVER_H
#define TACTRA_VFRAME_HID_MINIDRIVER_H

#include <ddk/wdm.h>

#define VFRAME_HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define VFRAME_IOCTL_HID_GET_DEVICE_DESCRIPTOR VFRAME_HID_CTL_CODE(0)
#define VFRAME_IOCTL_HID_GET_REPORT_DESCRIPTOR VFRAME_HID_CTL_CODE(1)
#define VFRAME_IOCTL_HID_READ_REPORT VFRAME_HID_CTL_CODE(2)
#define VFRAME_IOCTL_HID_WRITE_REPORT VFRAME_HID_CTL_CODE(3)
#define VFRAME_IOCTL_HID_GET_STRING VFRAME_HID_CTL_CODE(4)
#define VFRAME_IOCTL_HID_ACTIVATE_DEVICE VFRAME_HID_CTL_CODE(7)
#define VFRAME_IOCTL_HID_DEACTIVATE_DEVICE VFRAME_HID_CTL_CODE(8)
#define VFRAME_IOCTL_HID_GET_DEVICE_ATTRIBUTES VFRAME_HID_CTL_CODE(9)

#define VFRAME_HID_REVISION 0x00000001
#define VFRAME_HID_HID_DESCRIPTOR_TYPE 0x21
#define VFRAME_HID_REPORT_DESCRIPTOR_TYPE 0x22

typedef struct _VFRAME_HID_MINIDRIVER_REGISTRATION {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} VFRAME_HID_MINIDRIVER_REGISTRATION;

typedef struct _VFRAME_HID_DEVICE_EXTENSION {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} VFRAME_HID_DEVICE_EXTENSION;

typedef struct _VFRAME_HID_DEVICE_ATTRIBUTES {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} VFRAME_HID_DEVICE_ATTRIBUTES;

#pragma pack(push, 1)
typedef struct _VFRAME_HID_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  struct {
    UCHAR bReportType;
    USHORT wReportLength;
  } DescriptorList[1];
} VFRAME_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct _VFRAME_HID_XFER_PACKET {
  PUCHAR reportBuffer;
  ULONG reportBufferLen;
  UCHAR reportId;
} VFRAME_HID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(VFRAME_HID_MINIDRIVER_REGISTRATION* registration);

#endif
