; What both installers of the medium share: names, version and icons.
; makensis gets VERSION (four numbers) and OUTFILE from the build. Each installer names its
; target (width and character set) before it includes this.

!define PUBLISHER "Quillmere"

; The medium's layout fixes the name setup.exe, which NSIS warns about.
!pragma warning disable 9000
SetCompressor /SOLID lzma

Name "Tarnwick"
BrandingText "${PUBLISHER} Tarnwick ${VERSION}"
OutFile "${OUTFILE}"
Icon "../ui/res/Tarnwick.ico"
UninstallIcon "../ui/res/Tarnwick.ico"

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Tarnwick"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "Tarnwick Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"
