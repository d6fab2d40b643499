; What both installers of the medium share: names, version and the refusal on 32-bit Windows.
; makensis gets VERSION (four numbers) and OUTFILE from the build.

!define PUBLISHER "Quillmere"

Unicode true
; The medium's layout fixes the name setup.exe, which NSIS warns about.
!pragma warning disable 9000
SetCompressor /SOLID lzma

Name "Tarnwick"
BrandingText "${PUBLISHER} Tarnwick ${VERSION}"
OutFile "${OUTFILE}"
Icon "../ui/res/Tarnwick.ico"
UninstallIcon "../ui/res/Tarnwick.ico"

!define NEEDS_64_BIT "Tarnwick needs a 64-bit edition of Windows."

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Tarnwick"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "Tarnwick Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"
