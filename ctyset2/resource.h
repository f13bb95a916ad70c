// Resource identifiers of ctyset2.cpl (shared by the .rc file and the code).
#pragma once

#define IDI_APPLET 101
#define IDR_MANIFEST 123

#define IDS_TITLE 1
#define IDS_APPLET_INFO 2
#define IDS_APPLET_NAME 3
#define IDS_TITLE_BRIO 4
#define IDS_TITLE_SHORT 5
#define IDS_TITLE_HALCYON 6
