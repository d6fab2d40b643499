; The installer the launcher starts on 32-bit Windows. Tarnwick is a 64-bit program, so this
; one installs nothing: it says so and fails, also when run silently.
!include "Tarnwick.nsh"

RequestExecutionLevel user

Function .onInit
  MessageBox MB_OK|MB_ICONSTOP "${NEEDS_64_BIT}" /SD IDOK
  Abort
FunctionEnd

Section
SectionEnd
