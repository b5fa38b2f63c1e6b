/* Control and resource ids of the driver's dialogs; read by the resource
   compiler and by the dialog logic alike, so plain #defines. */
#ifndef VARNU_RESOURCE_H
#define VARNU_RESOURCE_H

/* Bitmaps */
#define IDB_DRIVER_INFO 102 /* 85 x 80, 16 colours: the driver information picture */
#define IDB_CURVE_GRID 3032 /* 63 x 52, 16 colours: the image-correction grid */

/* Buttons every dialog has */
#define IDC_OK 1
#define IDC_CANCEL 2

/* DRIVERCFG2_GER and DETAILCFG2_GER */
#define IDC_MATERIAL_GROUP 104
#define IDC_PAPER 105
#define IDC_PAPER_LABEL 108
#define IDC_COPIES 114
#define IDC_COPIES_SPIN 115
#define IDC_COPIES_LABEL 116
#define IDC_MEDIA_LABEL 1006
#define IDC_MEDIA 1007
#define IDC_MARGIN_LABEL 1008
#define IDC_MARGIN 1009
#define IDC_MARGIN_SPIN 1010
#define IDC_LENGTH_LABEL 1011
#define IDC_LENGTH 1012
#define IDC_PRINT_GROUP 1013
#define IDC_FILL_GROUP 1017
#define IDC_FILL_SOLID 1018
#define IDC_FILL_HALFTONE 1019
#define IDC_IMAGE_GROUP 1025
#define IDC_RESOLUTION_GROUP 1029
#define IDC_DPI600 1030
#define IDC_DPI400 1031
#define IDC_DPI300 1032
#define IDC_DPI200 1033
#define IDC_VERSION 1038
#define IDC_LABEL_CAPTION 1039
#define IDC_LABEL_HINT 1040
#define IDC_LABEL 1041
#define IDC_COLOUR_GROUP 1067
#define IDC_RED_GROUP 1068
#define IDC_RED_ON 1069
#define IDC_RED_OFF 1070
#define IDC_RED_PEN_LABEL 1071
#define IDC_RED_PEN 1072
#define IDC_DATA_GROUP 1073
#define IDC_DATA_RTL 1074
#define IDC_DATA_VCGL 1075
#define IDC_OPTIONS 1076
#define IDC_IMAGE_CORRECTION 3030

/* OPTIONCFG1_GER and OPTIONCFG2_GER (1008 is the margin label here too) */
#define IDC_FOLD_GROUP 1081
#define IDC_PROGRAM_LABEL 1089
#define IDC_BIN_LABEL 1090
#define IDC_FINISH_MARGIN 1094
#define IDC_BIN 1095
#define IDC_PROGRAM 1096
#define IDC_MANUAL_GROUP 1112
#define IDC_MANUAL_ON 1114
#define IDC_MANUAL_OFF 1116

/* DRV_VER_GER */
#define IDC_IDENTITY 501
#define IDC_NOTICE 502
#define IDC_PICTURE 503

/* IDD_COLOR_GER */
#define IDC_INPUT_TITLE 3000
#define IDC_BLANK1 3001
#define IDC_OUTPUT_TITLE 3002
#define IDC_BLANK3 3003
#define IDC_BLANK4 3004
#define IDC_INPUT_LOW 3005
#define IDC_INPUT_HIGH 3006
#define IDC_OUTPUT_LOW 3007
#define IDC_OUTPUT_HIGH 3008
#define IDC_PREVIEW 3009
#define IDC_DEFAULT_CURVE 3010
#define IDC_BRIGHTNESS_GROUP 3015
#define IDC_CONTRAST_LABEL 3016
#define IDC_CONTRAST 3017
#define IDC_SHIFT_LABEL 3018
#define IDC_SHIFT 3019
#define IDC_GAMMA_LABEL 3020
#define IDC_GAMMA 3021
#define IDC_CURVE_OK 3031

#endif
