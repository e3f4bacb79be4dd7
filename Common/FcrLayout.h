// Byte offsets of the fields of the file control record (FCR) and of a PAT
// page, from the start of the page. docs/format.md holds the same tables with
// the versions each field belongs to; change both together.
#ifndef HALVORN_COMMON_FCRLAYOUT_H
#define HALVORN_COMMON_FCRLAYOUT_H

// ---- FCR: fields the library reads (docs/format.md, "FCR")
const int FcrSignature = 0;            // 4 zero bytes, or 'F' 'C'
const int FcrVersionWordZero = 6;      // version word when bytes 0-3 are zero
const int FcrVersionWordFc = 74;       // version word when the page starts "FC"
const int FcrUsageCountV6 = 4;         // 0x0600-0x07FF
const int FcrUsageCountV8 = 6;         // 0x0800-0x094F
const int FcrUsageCountV95 = 8;        // 0x0950 and above
const int FcrPageSizeByteOld = 9;      // below 0x0800: page size / 256
const int FcrPhysRecLen = 24;          // 16-bit physical record length
const int FcrPageCount = 38;           // 32-bit, high word first up to 0x0950
const int FcrPageSizeByteNew = 43;     // 0x0800 and above: page size / 256
const int FcrPhysicalPageSize = 80;    // 0x0950 and above, compressed pages
const int FcrUserMiscPage = 140;       // 0x0950 and above
const int FcrUserMiscRecord = 144;
const int FcrUserMiscReserved = 146;
const int FcrMiscRecordOld = 148;      // below 0x0800: record number byte
const int FcrMiscPageOld = 149;        // below 0x0800: 24-bit logical page
const int FcrMiscPage = 148;           // 0x0800 and above: 32-bit logical page
const int FcrMiscRecord = 152;         // 0x0800 and above
const int FcrMiscReserved = 154;       // 0x0950 and above
const int FcrFlagsV13 = 156;           // above 0x0950: bit 0x2000 compressed
const int FcrBitsInRecordIdV8 = 351;   // 0x0800, 0x0900, 0x0950
const int FcrFlagsV95 = 400;           // 0x0950: bit 0x2000 compressed
const int FcrBitsInRecordIdV13 = 419;  // 0x0D00, 0x0D30
const unsigned FcrFlagPageCompressed = 0x2000;

// ---- FCR: fields an engine reads (docs/format.md, "FCR, engine fields")
const int FcrFreeSlotChain = 0x10;     // 3.x-5.x, high word first; FFFFFFFF none
const int FcrKeyCount = 0x14;
const int FcrRecordLength = 0x16;
const int FcrRecordCount = 0x1A;       // high word first
const int FcrFillingPage = 0x20;       // 3.x-5.x: data page being filled
const int FcrFillingUnused = 0x2A;     // 3.x-5.x: unused bytes at its end
const int FcrVariableByte = 0x38;      // 0xFF variable, 0xFD with truncation
const int FcrAcsName = 0x3C;           // 8-byte name of the file's collating sequence
const int FcrDupPointerOffset = 0x72;  // 6.x
const int FcrKeyAddressTable = 0x78;   // 6.x and later
const int FcrFileFlags = 0x106;
const int FcrKeySpecsOld = 0x110;      // 3.x-5.x: key segment specs
const int FcrKeySpecsNew = 0x1B0;      // 8.x and later: key segment specs, clear of 351, 400, 419
const int KeyTableFromEnd = 240;       // builder: key address table this far before the FCR page end
const int KeySpecLength = 30;

// ---- Key segment spec, from its start
const int KeySpecRootPage = 0x00;
const int KeySpecFlags = 0x08;
const int KeySpecPosition = 0x14;
const int KeySpecLengthField = 0x16;
const int KeySpecAcsNumber = 0x1A;     // 6.x and later: numbered ACS, 1-based
const int KeySpecType = 0x1C;
const int KeySpecNullValue = 0x1D;

// ---- PAT page (docs/format.md, "PAT")
const int PatEntriesV6 = 8;            // 4-byte entries, 0x0600-0x07FF
const int PatEntriesV8 = 20;           // 6-byte entries, 0x0800-0x094F
const int PatEntriesV95 = 16;          // 8-byte entries, 0x0950 and above
const int PatEntrySizeV6 = 4;          // page bits 16-23, EntryExtra, page bits 0-15
const int PatEntrySizeV8 = 6;          // page (4), EntryExtra (2)
const int PatEntrySizeV95 = 8;         // page (4), EntryExtra (2), PageSpan (2)

#endif
