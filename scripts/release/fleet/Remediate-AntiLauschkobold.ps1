# Intune Remediations, remediation script for Anti-Lauschkobold @VERSION@.
# Starts lkscan --remove (removes the known version, keeps a quarantine in
# %ProgramData%\Anti-Lauschkobold\Quarantine) and passes on its last line and its exit code.
# lkscan.exe must be installed at the path below; the release's lkscan.exe has the SHA-256
# @LKSCAN_SHA256@
[Console]::OutputEncoding = [System.Text.Encoding]::UTF8
$lkscan = Join-Path $env:ProgramFiles 'Anti-Lauschkobold\lkscan.exe'
$output = & $lkscan --remove
$code = $LASTEXITCODE
if ($output) { Write-Output @($output)[-1] }
exit $code
