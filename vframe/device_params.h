/* What the bridge tells the driver about one collection of the frame, as REG_DWORD values in the
 * device's own registry key ("Device Parameters"). Shared by the driver (C) and the bridge. */
#ifndef TACTRA_VFRAME_DEVICE_PARAMS_H
#define TACTRA_VFRAME_DEVICE_PARAMS_H

#define VFRAME_VALUE_CHANNEL L"Channel"
#define VFRAME_VALUE_VENDOR L"VendorID"
#define VFRAME_VALUE_PRODUCT L"ProductID"
#define VFRAME_VALUE_INPUT L"InputLength"
#define VFRAME_VALUE_OUTPUT L"OutputLength"
#define VFRAME_VALUE_REPORT_ID L"ReportID"

/* The hardware ID the INF matches; every collection's device carries it. */
#define VFRAME_HARDWARE_ID L"root\\tactra_vframe"
/* Each collection's device carries this one too, first, followed by its channel's digit: the
 * driver is installed on each device by its own ID, so that adding one collection leaves the
 * devices already there alone. */
#define VFRAME_CHANNEL_HARDWARE_ID L"root\\tactra_vframe_"

#endif
