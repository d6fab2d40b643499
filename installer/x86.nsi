; The installer the launcher starts on 32-bit Windows. Tarnwick is a 64-bit program, so this
; one installs nothing: it says so and fails, also when run silently.
Target x86-unicode
!include "Tarnwick.nsh"

RequestExecutionLevel user

Function .onInit
  MessageBox MB_OK|MB_ICONSTOP "Tarnwick needs a 64-bit edition of Windows." /SD IDOK
  Abort
FunctionEnd

Section
SectionEnd
