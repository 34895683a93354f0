# shellcheck shell=bash
# Sourced by the scripts that put the system's own servers beside ours:   . scripts/lib/real-servers.sh
# tls_front_start PORT BACKEND FOLDER CERT KEY: nginx on 127.0.0.1:PORT speaking TLS with CERT and KEY in front of
#   the plain HTTP server on 127.0.0.1:BACKEND, its files in FOLDER; sets front_pid, empty when it did not start (the
#   port was taken). tls_front_stop ends it.
# squid_start PORT FOLDER [NAME ADDRESS]...: squid on 127.0.0.1:PORT, resolving each NAME to ADDRESS itself (as a
#   campus proxy alone knows the way out); sets squid_pid, empty when it did not start. squid_stop ends it. Started as
#   root, squid works as its own user: every folder above FOLDER must let others through. FOLDER/access.log shows
#   every request it served (a CONNECT tunnel's when the tunnel closes), so a road can tell it was used.

# Waits until a server of ours listens on the port, or has ended.
real_server_listens() {
  local port=$1 pid=$2 waited
  for waited in $(seq 100); do
    if (: <"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

tls_front_start() {
  local port=$1 backend=$2 folder=$3 cert=$4 key=$5
  mkdir -p "$folder"
  cat >"$folder/nginx.conf" <<NGINX
daemon off;
master_process off;
worker_processes 1;
error_log $folder/error.log;
pid $folder/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $folder; proxy_temp_path $folder; fastcgi_temp_path $folder;
  uwsgi_temp_path $folder; scgi_temp_path $folder;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_certificate $cert;
    ssl_certificate_key $key;
    location / {
      proxy_pass http://127.0.0.1:$backend;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_set_header Host \$http_host;
      proxy_buffering off;
    }
  }
}
NGINX
  /usr/sbin/nginx -p "$folder" -c "$folder/nginx.conf" -e "$folder/error.log" 2>/dev/null &
  front_pid=$!
  real_server_listens "$port" "$front_pid" || tls_front_stop
}

tls_front_stop() {
  if [ -n "${front_pid:-}" ]; then
    kill "$front_pid" 2>/dev/null || true
    wait "$front_pid" 2>/dev/null || true
    front_pid=""
  fi
}

squid_start() {
  local port=$1 folder=$2
  shift 2
  mkdir -p "$folder"
  chmod 777 "$folder"
  echo "127.0.0.1 localhost" >"$folder/hosts"
  while [ $# -ge 2 ]; do
    echo "$2 $1" >>"$folder/hosts"
    shift 2
  done
  cat >"$folder/squid.conf" <<SQUID
http_port 127.0.0.1:$port
visible_hostname vextal-proxy
pid_filename $folder/squid.pid
cache_log $folder/cache.log
access_log stdio:$folder/access.log
cache_store_log none
cache deny all
pinger_enable off
hosts_file $folder/hosts
shutdown_lifetime 0 seconds
cache_effective_user proxy
http_access allow localhost
http_access deny all
SQUID
  /usr/sbin/squid -N -f "$folder/squid.conf" 2>/dev/null &
  squid_pid=$!
  real_server_listens "$port" "$squid_pid" || squid_stop
}

squid_stop() {
  if [ -n "${squid_pid:-}" ]; then
    kill -9 "$squid_pid" 2>/dev/null || true
    wait "$squid_pid" 2>/dev/null || true
    squid_pid=""
  fi
}
