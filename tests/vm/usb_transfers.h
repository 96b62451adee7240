/* A recording of a process's libusb bulk transfers, as usb_record.so writes it and usb_replay
 * reads it: "USBR", then one record per bulk transfer in the order they completed:
 *
 *   u8 endpoint, i32 length, u32 timeout (ms), the bytes sent (OUT endpoints only),
 *   i32 result (as libusb_bulk_transfer returns it), i32 bytes moved
 *
 * Integers are little-endian. USB_RECORD names the recording usb_record.so writes. */
#ifndef FLASHDESK_TESTS_VM_USB_TRANSFERS_H
#define FLASHDESK_TESTS_VM_USB_TRANSFERS_H

#define USB_RECORDING_MAGIC "USBR"
#define USB_RECORD_VARIABLE "USB_RECORD"

#endif
