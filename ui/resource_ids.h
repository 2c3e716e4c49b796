/* Resource and control ids shared by resources.rc and the dialog procedures. Plain
   #defines, because the resource compiler reads this file too. */
#pragma once

#define kMainDialog 1
#define kOverwriteDialog 2

#define CTL_FOLDER 101
#define CTL_PROGRESS 102
#define CTL_HELP 103
#define CTL_CANCEL 104
#define CTL_INSTRUCTION 105
#define CTL_OVERWRITE 106
#define CTL_FOLDER_LABEL 107
#define CTL_EXTRACT 108

#define CTL_QUESTION 107
#define CTL_YES_TO_ALL 108
#define CTL_YES 109
#define CTL_NO 110
