# Intune Remediations, detection script for Anti-Lauschkobold @VERSION@.
# Starts lkscan (no change to the PC) and passes on its last line and its exit code:
# 0 clean, 1 found (Intune then runs the remediation script), 2 not everything examined.
# lkscan.exe must be installed at the path below; the release's lkscan.exe has the SHA-256
# @LKSCAN_SHA256@
[Console]::OutputEncoding = [System.Text.Encoding]::UTF8
$lkscan = Join-Path $env:ProgramFiles 'Anti-Lauschkobold\lkscan.exe'
$output = & $lkscan
$code = $LASTEXITCODE
if ($output) { Write-Output @($output)[-1] }
exit $code
