#!/usr/bin/perl
# Mends help2man's rendering of `epipolar --help`:   man-fixes.pl IN OUT
# - help2man writes a heading as .SS "text"; a double quote inside the text (the window names
#   "(0)", "Ball Display") ends the troff argument early, so those become \(dq;
# - a binding described "before calibration: ..." and "after calibration: ..." on lines of
#   its own in --help keeps the second part on a line of its own.
use strict;
use warnings;

my ($in, $out) = @ARGV;
open(my $source, '<', $in) or die "$in: $!\n";
open(my $target, '>', $out) or die "$out: $!\n";
while (my $line = <$source>) {
  if ($line =~ /^\.SS "(.*)"$/) {
    (my $text = $1) =~ s/"/\\(dq/g;
    $line = ".SS \"$text\"\n";
  }
  $line = ".br\n$line" if $line =~ /^(?:before|after) \w+: /;
  print $target $line;
}
close($target) or die "$out: $!\n";
