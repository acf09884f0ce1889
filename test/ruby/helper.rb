require "minitest/autorun"

# Ruby 2.0 bundles minitest 4, whose test case is MiniTest::Unit::TestCase;
# minitest 5 names it Minitest::Test. The tests run on both.
Minitest::Test = MiniTest::Unit::TestCase unless defined?(Minitest::Test)
