// Numbers shared by the resource script and the dialog procedures.
#pragma once

#define IDD_MAIN_WINDOW 131
#define IDD_QUERY 132
#define IDD_PROCESS_MEMORY 135
#define IDD_HEAP 141
#define IDD_MODULE 145
#define IDI_MORVANE 138
#define IDD_PROCESS_LIST 150
#define IDD_USES 155

// MainWindow
#define IDC_MEMORY_LOAD 1005
#define IDC_TOTAL_PHYS 1006
#define IDC_AVAIL_PHYS 1007
#define IDC_TOTAL_PAGEFILE 1008
#define IDC_AVAIL_PAGEFILE 1009
#define IDC_TOTAL_VIRTUAL 1010
#define IDC_AVAIL_VIRTUAL 1011
#define IDC_AVAIL_EXTENDED 1012
#define IDC_SHOW_PROCESS 1013
#define IDC_ABOUT 1021
#define IDC_HOUR 1023
#define IDC_MINUTE 1024
#define IDC_SECOND 1025
#define IDC_LOAD_GAUGE 1026

// QueryDialog
#define IDC_PID 1005
#define IDC_QUERY 1013

// ProcessMemoryDialog, HeapDialog, ModuleDialog
#define IDC_REFRESH 1
#define IDC_COUNTERS 1020
#define IDC_REGIONS 1021
#define IDC_SHOW_HEAPS 1028
#define IDC_SHOW_MODULES 1031
// The text above the map that says what its columns cover (x86_64 picture).
#define IDC_MAP_COVERAGE 1060
#define IDC_SHOW_USES 1032
#define IDC_HEAP_LIST 1020
#define IDC_BLOCK_LIST 1021
#define IDC_MODULE_LIST 1020

// QueryDialog's way to ProcessListDialog, and ProcessListDialog ("确定" is
// number 1, IDOK, which Enter sends)
#define IDC_SHOW_PROCESS_LIST 1040
#define IDC_PROCESS_LIST 1020
#define IDC_LIST_OK 1
#define IDC_LIST_REFRESH 1041

// UsesDialog ("内存用途"): the summary by kind, the allocations, and the
// line under them that says when the process could not be read
#define IDC_USES_SUMMARY 1050
#define IDC_USES_ALLOCATIONS 1051
#define IDC_USES_NOTE 1052
// Opens a window on the selected allocation's contents.
#define IDC_USES_CONTENTS 1053
// What changed since the baseline: the line above the lists, 刷新, 设为基准,
// the check boxes 只看变化 and 自动刷新, and the strip of the committed total
// over time.
#define IDC_USES_CHANGES 1054
#define IDC_USES_REFRESH 1055
#define IDC_USES_SET_BASELINE 1056
#define IDC_USES_ONLY_CHANGES 1057
#define IDC_USES_AUTO_REFRESH 1058
#define IDC_USES_STRIP 1059
#define IDC_USES_STRIP_LABEL 1061

// ContentsDialog ("内存内容"): the bytes and strings lists, the note line,
// find, 转到, 刷新 and the strings' shortest length and filter
#define IDD_CONTENTS 160
#define IDC_CONTENTS_BYTES 1070
#define IDC_CONTENTS_STRINGS 1071
#define IDC_CONTENTS_NOTE 1072
#define IDC_CONTENTS_FIND_TEXT 1073
#define IDC_CONTENTS_FIND 1074
#define IDC_CONTENTS_HEX 1075
#define IDC_CONTENTS_GOTO_TEXT 1076
#define IDC_CONTENTS_GOTO 1077
#define IDC_CONTENTS_REFRESH 1078
#define IDC_CONTENTS_SHORTEST 1079
#define IDC_CONTENTS_FILTER 1080
#define IDC_CONTENTS_COUNT 1081
