#!/usr/bin/env bash
# Installs, on Debian, whatever the build, the tests or a run under Wine need and is missing.
set -eu
packages=(cmake make g++-mingw-w64-x86-64-posix googletest wine64 xvfb xauth xclip python3 openssl
          fonts-wqy-microhei locales nsis osslsigncode 7zip python3-yaml)
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
# Wine runs the test prefix in zh_CN.UTF-8 and maps file names through that host locale: where
# it is not generated, no file name outside ASCII can be made (Chinese folder names among them).
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  $sudo_cmd localedef -i zh_CN -c -f UTF-8 zh_CN.UTF-8
fi
