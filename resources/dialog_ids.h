/* Ids of the format options dialog and its controls, shared by the resource script and the dialog
   procedure. Plain defines, so the resource compiler reads this file too. */
#pragma once

#define IDD_FORMAT_OPTIONS 101

/* One radio button per coding. 64KB U-Law (1003) stands above 48KB U-Law (1002) in the dialog. */
#define IDC_ALAW_64KB 1000
#define IDC_ALAW_48KB 1001
#define IDC_MULAW_48KB 1002
#define IDC_MULAW_64KB 1003
#define IDC_ADPCM_32KB 1004
#define IDC_ADPCM_24KB 1005

#define IDC_INCLUDE_HEADER 1006

/* The two black frames have no id of their own. */
#define IDC_FRAME (-1)
