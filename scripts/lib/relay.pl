#!/usr/bin/perl
# relay TARGET-FILE: listens on a loopback port the system picks, prints "listening on 127.0.0.1:PORT", and passes
# every connection's bytes both ways, unchanged, to 127.0.0.1 at the port written in TARGET-FILE, read anew for each
# connection. Ends on TERM or INT, and ends its open connections with it. Perl, because Debian always has it.
use strict;
use warnings;
use IO::Socket::INET;
use IO::Select;
use POSIX ":sys_wait_h";

my $target_file = shift @ARGV or die "usage: relay.pl TARGET-FILE\n";
my $listener = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 64, Proto => 'tcp')
  or die "relay: cannot listen on 127.0.0.1: $!\n";
$| = 1;
print "listening on 127.0.0.1:", $listener->sockport, "\n";

my %children;
$SIG{CHLD} = sub { while ((my $pid = waitpid(-1, WNOHANG)) > 0) { delete $children{$pid}; } };
my $end = sub { kill 'TERM', keys %children; exit 0; };
$SIG{TERM} = $end;
$SIG{INT} = $end;

sub pass {
  my ($client) = @_;
  open(my $in, '<', $target_file) or die "relay: cannot read $target_file: $!\n";
  my $port = <$in>;
  close $in;
  defined $port && $port =~ /^(\d+)\s*$/ or die "relay: no port in $target_file\n";
  my $server = IO::Socket::INET->new(PeerAddr => '127.0.0.1', PeerPort => $1, Proto => 'tcp')
    or die "relay: cannot reach 127.0.0.1:$1: $!\n";
  my %peer = ($client => $server, $server => $client);
  my $select = IO::Select->new($client, $server);
  while ($select->count) {
    for my $from ($select->can_read) {
      my $to = $peer{$from};
      my $read = sysread($from, my $buffer, 65536);
      if (!$read) {
        # One side has finished sending: the other learns it, and may still answer.
        shutdown($to, 1);
        $select->remove($from);
        next;
      }
      for (my $done = 0; $done < $read;) {
        my $written = syswrite($to, $buffer, $read - $done, $done);
        return unless defined $written;
        $done += $written;
      }
    }
  }
}

while (1) {
  my $client = $listener->accept or next;
  my $pid = fork;
  if (!defined $pid) {
    close $client;
    next;
  }
  if ($pid == 0) {
    $SIG{TERM} = $SIG{INT} = 'DEFAULT';
    close $listener;
    pass($client);
    exit 0;
  }
  $children{$pid} = 1;
  close $client;
}
