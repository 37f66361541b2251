#!/usr/bin/env bash
# The rescue medium's boot test: boots dist/Anti-Lauschkobold-Rettung-<version>.iso in qemu,
# with OVMF with Secure Boot enforced (Microsoft's keys enrolled) and with SeaBIOS, and lets its
# unattended mode repair an infected Windows installation on an NVMe disk. Slow (several qemu
# boots; KVM where it works, else software emulation); not part of scripts/test-all.sh.
#
#   bash scripts/test-rescue.sh [--iso FILE] [--only uefi|bios]
#   (default: build the ISO with scripts/rescue.sh, and boot both firmwares)
#
# UEFI, Secure Boot on, the medium as a writable USB stick:
#   1. lk.auto=remove: the quarantine and the report go onto the stick;
#      afterwards, read from the host: no trojan in the image, exactly one quarantine run on
#      the stick, the stick's report says the removal left nothing;
#   2. lk.auto=scan on the same disk: clean.
# BIOS (SeaBIOS), the medium as a CD (read-only):
#   3. lk.auto=remove: the quarantine goes onto the Windows disk, the report stays in memory;
#      afterwards: no trojan, exactly one quarantine run on the Windows disk;
#   4. lk.auto=scan: clean.
# The mode reaches the medium as the firmware option opt/lk.auto (qemu -fw_cfg), which the medium
# reads like the kernel option lk.auto=; the ISO is not changed. The Windows disk also carries the
# files by which a GRUB that searches every disk would take it for the medium (.disk/info and a
# boot/grub/grub.cfg): the medium must boot from itself all the same.
# Prints the build and boot times, "N passed, M failed", and exits 1 on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
iso=
only=
while [ $# -gt 0 ]; do
  case "$1" in
    --iso) iso=$2; shift 2 ;;
    --only)
      only=$2
      shift 2
      if [ "$only" != uefi ] && [ "$only" != bios ]; then
        echo "test-rescue: --only uefi or bios" >&2
        exit 2
      fi
      ;;
    *) echo "test-rescue: unknown argument $1" >&2; exit 2 ;;
  esac
done
boot_timeout=${LK_BOOT_TIMEOUT:-2400}
bash scripts/install-deps.sh --without-wine32 --rescue || exit 2
work=$(mktemp -d /tmp/lk-test-rescue.XXXXXX)
mounted=()
cleanup() {
  local m
  for m in "${mounted[@]}"; do umount "$m" 2>/dev/null; done
  for m in $(losetup -j "$work/win-uefi.img" -O NAME -n 2>/dev/null) \
           $(losetup -j "$work/win-bios.img" -O NAME -n 2>/dev/null); do
    losetup -d "$m" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
passed=0 failed=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"
  else failed=$((failed + 1)); echo "FAILED: $what" >&2; fi
}
times=()

# --- the medium, and the native tools that read the disk afterwards ----------------------------
if [ -z "$iso" ]; then
  t0=$(date +%s)
  bash scripts/rescue.sh || { echo "test-rescue: the ISO did not build" >&2; exit 2; }
  times+=("build of the ISO: $(( $(date +%s) - t0 )) s")
  version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  iso=dist/Anti-Lauschkobold-Rettung-$version.iso
fi
[ -f "$iso" ] || { echo "test-rescue: no ISO at $iso" >&2; exit 2; }
export CMAKE_BUILD_PARALLEL_LEVEL=${LK_JOBS:-2}
if ! { cmake --preset native && cmake --build build/native --target lkscan lk_make_tree; } >"$work/native.log" 2>&1; then
  tail -n 30 "$work/native.log" >&2; exit 2
fi
lkscan=build/native/tools/lkscan/lkscan
make_tree=build/native/tests/support/lk_make_tree
export ASAN_OPTIONS=detect_leaks=0

disk() {  # name: an infected Windows 10 installation on a GPT disk image, with a decoy medium
  "$make_tree" "$work/tree-$1" --infected || return 1
  mkdir -p "$work/tree-$1/.disk" "$work/tree-$1/boot/grub"
  echo 'Anti-Lauschkobold Rettung amd64' >"$work/tree-$1/.disk/info"
  printf 'set timeout=0\nmenuentry decoy {\n  halt\n}\n' \
    >"$work/tree-$1/boot/grub/grub.cfg"
  /usr/bin/python3 tests/system/image/make_image.py --tree "$work/tree-$1" --out "$work/win-$1.img" \
    --table gpt --size-mb 256 >/dev/null
}
disk uefi || { echo "test-rescue: the disk image could not be made" >&2; exit 2; }
disk bios || exit 2

# --- booting -------------------------------------------------------------------------------------
cp /usr/share/OVMF/OVMF_VARS_4M.ms.fd "$work/vars.fd"
cp "$iso" "$work/stick.img"   # the stick: a copy, so its FAT part can be written
# KVM when this machine's qemu can use it for the machine a boot needs, and it is faster there
# than software emulation, else software emulation. Secure Boot needs SMM, which not every KVM
# host offers; and a KVM that starts may still crawl (nested, say): each is timed on SeaBIOS
# getting to "No bootable device".
firmware_ms() {  # accel: milliseconds SeaBIOS needs to find no disk (20000 when it does not)
  local probe=$work/probe-$1.log t0 pid
  rm -f "$probe"
  t0=$(date +%s%N)
  qemu-system-x86_64 -accel "$1" -machine q35 -nodefaults -display none -monitor none \
    -debugcon "file:$probe" -global isa-debugcon.iobase=0x402 >/dev/null 2>&1 &
  pid=$!
  while ! grep -aq 'No bootable device' "$probe" 2>/dev/null; do
    if ! kill -0 "$pid" 2>/dev/null || [ $(( ($(date +%s%N) - t0) / 1000000 )) -gt 20000 ]; then
      kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; echo 20000; return
    fi
    sleep 0.1
  done
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  echo $(( ($(date +%s%N) - t0) / 1000000 ))
}
accel() {  # uefi|bios
  if [ -w /dev/kvm ]; then
    if [ "$1" = uefi ]; then
      timeout 5 qemu-system-x86_64 -accel kvm -machine q35,smm=on -nodefaults -display none \
        -monitor none -S >/dev/null 2>&1
      [ $? -eq 124 ] || { echo tcg; return; }
    fi
    [ "$(firmware_ms kvm)" -lt "$(firmware_ms tcg)" ] && { echo kvm; return; }
  fi
  echo tcg
}
boot() {  # uefi|bios, scan|remove, stick|cd, disk image, log
  local firmware=$1 mode=$2 medium=$3 image=$4 log=$5 args t0 how
  how=$(accel "$firmware")
  args=(-m 2048 -smp 2 -accel "$how" -display none -monitor none -no-reboot -nodefaults
        -serial "file:$log" -fw_cfg "name=opt/lk.auto,string=$mode"
        -drive "file=$image,format=raw,if=none,id=win,cache=unsafe" -device nvme,drive=win,serial=LKWIN)
  if [ "$firmware" = uefi ]; then
    args+=(-machine q35,smm=on -global driver=cfi.pflash01,property=secure,value=on
           -drive if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.secboot.fd
           -drive "if=pflash,format=raw,unit=1,file=$work/vars.fd")
  else
    # A BIOS PC has a graphics card, and SeaBIOS with GRUB's BIOS image needs one: without a VGA
    # BIOS the boot stops in the firmware before GRUB has started the kernel.
    args+=(-machine q35 -vga std)
  fi
  if [ "$medium" = stick ]; then
    args+=(-drive "file=$work/stick.img,format=raw,if=none,id=stick,cache=unsafe"
           -device qemu-xhci -device usb-storage,drive=stick,bootindex=0)
  else
    args+=(-drive "file=$iso,format=raw,if=none,id=cd,media=cdrom,readonly=on"
           -device ide-cd,drive=cd,bootindex=0)
  fi
  t0=$(date +%s)
  timeout "$boot_timeout" qemu-system-x86_64 "${args[@]}" >"$log.qemu" 2>&1
  local code=$?
  times+=("boot $firmware $mode from the $medium ($how): $(( $(date +%s) - t0 )) s (qemu exit $code)")
  echo "test-rescue: boot $firmware $mode from the $medium ($how) took $(( $(date +%s) - t0 )) s"
  [ "$code" -eq 0 ] || { echo "test-rescue: qemu exit $code; last lines:" >&2; tail -n 20 "$log" >&2; cat "$log.qemu" >&2; }
  return 0
}
# The kernel and systemd write to the serial line too, and a marker can follow their output on
# the same line: a marker counts wherever it starts.
marker() {  # log, marker: each line from the marker on
  grep -ao "$2.*" "$1" | tr -d '\r'
}
ende() {  # log: the unattended mode's last line
  marker "$1" 'LK-ENDE ' | tail -n 1
}

# The Windows volume of an image, mounted read-only through a loop device (partition 2).
mount_windows() {  # image, mount point
  local start loop
  start=$(sfdisk -J "$1" | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["partitiontable"]["partitions"][1]["start"])')
  loop=$(losetup -f --show -r -o $((start * 512)) "$1") || return 1
  mkdir -p "$2"
  ntfs-3g -o ro "$loop" "$2" || return 1
  mounted+=("$2")
}
# The stick's FAT part (partition 3, LK-BERICHTE) for mtools.
stick_fat() {
  local start
  start=$(sfdisk -J "$work/stick.img" | /usr/bin/python3 -c 'import json,sys; p=json.load(sys.stdin)["partitiontable"]["partitions"]; print([x for x in p if x["node"].endswith("img3")][0]["start"])')
  echo "$work/stick.img@@$((start * 512))"
}
native_verdict() {  # mount point: the native lkscan's exit code on it
  "$lkscan" --root "$1" --json >"$work/native.jsonl" 2>&1
  echo $?
}
trojan_files() {  # mount point: the known files still there
  find "$1/Windows" -iname winsys32.sys -o -iname mfc42ul.dll 2>/dev/null
}

# --- 1, 2: UEFI with Secure Boot, from a stick -------------------------------------------------
if [ "$only" != bios ]; then
boot uefi remove stick "$work/win-uefi.img" "$work/uefi-remove.log"
line=$(ende "$work/uefi-remove.log")
echo "test-rescue: $line"
check "UEFI: the medium's own system started, not the decoy on the Windows disk" \
  grep -aq 'LK-START mode=remove ' "$work/uefi-remove.log"
check "UEFI: the firmware says Secure Boot is on (the medium's SecureBoot variable)" \
  bash -c "grep -ao 'LK-START mode=remove .*' '$work/uefi-remove.log' | grep -q 'firmware=uefi-secureboot'"
check "UEFI: the kernel says Secure Boot is enabled (so shim, GRUB and kernel were verified)" \
  bash -c "grep -ao 'LK-KERNEL .*' '$work/uefi-remove.log' | grep -qi 'secure boot enabled'"

check "UEFI removal: the report went onto the stick" grep -q 'place=stick' <<<"$line"
check "UEFI removal: nothing left after it (exit 0)" grep -q ' exit=0 ' <<<"$line"
check "UEFI removal: the known version was found and quarantined" \
  bash -c "grep -ao 'LK {\"type\":\"action\",\"action\":\"quarantine\".*' '$work/uefi-remove.log' | grep -q '\"ok\":true'"
mount_windows "$work/win-uefi.img" "$work/m-uefi" &&
  check "UEFI removal: no trojan file left in the image (read on the host)" test -z "$(trojan_files "$work/m-uefi")" &&
  check "UEFI removal: the native lkscan finds the installation clean" test "$(native_verdict "$work/m-uefi")" = 0 &&
  check "UEFI removal: the Windows disk holds no quarantine (it is on the stick)" \
    test ! -e "$work/m-uefi/ProgramData/Anti-Lauschkobold/Quarantine"
umount "$work/m-uefi" 2>/dev/null
fat=$(stick_fat)
export MTOOLS_SKIP_CHECK=1
runs=$(mdir -b -i "$fat" ::/Quarantaene 2>/dev/null | grep -c . )
check "UEFI removal: exactly one quarantine run on the stick ($runs)" test "$runs" -eq 1
run=$(mdir -b -i "$fat" ::/Quarantaene 2>/dev/null | head -n 1)
check "UEFI removal: the run has its manifest" mdir -i "$fat" "${run%/}/manifest.json"
mcopy -n -i "$fat" '::/Berichte/*' "$work/" 2>/dev/null
check "UEFI removal: the report is on the stick as JSON Lines and text" \
  bash -c "ls '$work'/Bericht-*-entfernen.jsonl && ls '$work'/Bericht-*-entfernen.txt" 
check "UEFI removal: the text report says what was removed, in German" \
  bash -c "grep -q 'Erledigt: in die Quarantäne gelegt' '$work'/Bericht-*-entfernen.txt"

boot uefi scan stick "$work/win-uefi.img" "$work/uefi-scan.log"
line=$(ende "$work/uefi-scan.log")
echo "test-rescue: $line"
check "UEFI scan after the removal: clean (exit 0)" grep -q 'mode=scan exit=0 ' <<<"$line"
check "UEFI scan: the summary says clean" \
  bash -c "grep -ao 'LK {\"type\":\"summary\".*' '$work/uefi-scan.log' | grep -q '\"verdict\":\"clean\"'"

fi

# --- 3, 4: BIOS, from a CD -----------------------------------------------------------------------
if [ "$only" != uefi ]; then
boot bios remove cd "$work/win-bios.img" "$work/bios-remove.log"
line=$(ende "$work/bios-remove.log")
echo "test-rescue: $line"
check "BIOS: started without UEFI" \
  bash -c "grep -ao 'LK-START mode=remove .*' '$work/bios-remove.log' | grep -q 'firmware=bios'"
check "BIOS: the medium's own system started, not the decoy on the Windows disk" \
  grep -aq 'LK-START mode=remove ' "$work/bios-remove.log"
check "BIOS removal from a CD: the report stays in memory" grep -q 'place=memory' <<<"$line"
check "BIOS removal: nothing left after it (exit 0)" grep -q ' exit=0 ' <<<"$line"
mount_windows "$work/win-bios.img" "$work/m-bios" &&
  check "BIOS removal: no trojan file left in the image (read on the host)" test -z "$(trojan_files "$work/m-bios")" &&
  check "BIOS removal: the native lkscan finds the installation clean" test "$(native_verdict "$work/m-bios")" = 0 &&
  check "BIOS removal: exactly one quarantine run on the Windows disk" \
    test "$(find "$work/m-bios/ProgramData/Anti-Lauschkobold/Quarantine" -mindepth 2 -maxdepth 2 -name manifest.json | wc -l)" -eq 1
umount "$work/m-bios" 2>/dev/null

boot bios scan cd "$work/win-bios.img" "$work/bios-scan.log"
line=$(ende "$work/bios-scan.log")
echo "test-rescue: $line"
check "BIOS scan after the removal: clean (exit 0)" grep -q 'mode=scan exit=0 ' <<<"$line"
fi

printf 'test-rescue: %s\n' "${times[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
