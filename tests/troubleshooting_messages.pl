#!/usr/bin/perl
# Prints the fixed texts of every message the programs can print, one per line as
# "FILE:LINE<TAB>TEXT", read from their sources:
#   C++: the string literals of each statement that reports (Report, Complain, Print, Error,
#        SystemError, the save's `stopped`, a stamp's `malformed`, errors.push_back), refuses
#        (`refusal =`), writes report text (`<< "..."`) or returns a reason (`return "..."` with
#        a space in it, which excludes identifiers and paths), and the finding kinds;
#   shell: the quoted texts of `die` and `attempt` calls and of `echo "$me: ..."`.
# A literal is cut at its variable parts (+ in C++, $... in shell); pieces of fewer than three
# characters or without a letter are left out, as they say nothing on their own.
use strict;
use warnings;

my $literal = qr/"((?:[^"\\\n]|\\.)*)"/;

# The literals of the statement that begins at `pos`: up to its ';' or '{' outside a literal.
sub statement_literals {
  my ($code, $pos) = @_;
  my @texts;
  pos($code) = $pos;
  while ($code =~ /\G(?:$literal|'(?:[^'\\]|\\.)*'|([;{])|[^"';{]+)/gc) {
    last if defined $2;
    push @texts, $1 if defined $1;
  }
  return @texts;
}

for my $file (@ARGV) {
  open(my $fh, '<', $file) or die "$file: $!\n";
  my $source = do { local $/; <$fh> };
  close $fh;
  my @found;  # [position, text]
  if ($file =~ /\.cpp$/) {
    (my $code = $source) =~ s{//[^\n]*}{' ' x length($&)}ge;  # comments, kept in place
    my $starts = qr/\b(?:Report|Complain|Print|SystemError|Error|stopped|malformed|push_back)\s*\(
                   |\brefusal\s*=|<<\s*(?=")|\breturn\s+(?=")/x;
    while ($code =~ /$starts/g) {
      my ($start, $end, $what) = ($-[0], $+[0], $&);
      my @texts = statement_literals($code, $end);
      next if $what =~ /^(?:return|<<)/ && !grep { / / } @texts;
      push @found, map { [$start, $_] } @texts;
      pos($code) = $end;
    }
    while ($code =~ /FindingKind::\w+:\s*return\s+$literal/g) { push @found, [$-[0], $1]; }
  } else {
    # A call may go on over lines ending in '\', each with more quoted words.
    while ($source =~ /(?:^|\|\||&&)\s*(?:die|attempt)\s+((?:[^\n]*\\\n)*[^\n]*)/mg) {
      my ($position, $call) = ($-[0], $1);
      push @found, [$position, $1] while $call =~ /"([^"\n]*)"/g;
    }
    while ($source =~ /echo\s+"\$me:\s*([^"\n]*)"/g) { push @found, [$-[0], $1]; }
  }
  for my $entry (sort { $a->[0] <=> $b->[0] } @found) {
    my ($position, $text) = @$entry;
    my $line = 1 + (substr($source, 0, $position) =~ tr/\n//);
    $text =~ s/\\n/\n/g;
    $text =~ s/\\(.)/$1/g;
    for my $piece (split /\$(?:\{[^}]*\}|\([^)]*\)|[\w#]+)/, $text) {
      $piece =~ s/^[\s:;,."(]+|[\s:;,"(]+$//g;
      next unless length($piece) >= 3 && $piece =~ /[a-z]/i;
      print "$file:$line\t$piece\n";
    }
  }
}
